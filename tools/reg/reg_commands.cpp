// query, add and delete over the registry calls, with reg.exe's output layout:
// a blank line, the key's full name, one "    NAME    TYPE    DATA" line per
// value ("(Default)" for the unnamed one) and a blank line after them; a plain
// query then lists the sub-keys' full names, /s descends into them instead.
#include "reg_commands.h"

#include <cstring>
#include <string>
#include <vector>

#include "kern/regkey.h"
#include "kern/unicode.h"
#include "reg_data.h"

namespace reg_tool {
namespace {

const char not_found_text[] =
    "ERROR: The system was unable to find the specified registry key or value.";
const char success_text[] = "The operation completed successfully.";

// A registry failure with its result code, reported by report_failure.
struct call_failure_t {
  LSTATUS code;
};

void check(LSTATUS code) {
  if (code != ERROR_SUCCESS) throw call_failure_t{code};
}

int report_failure(LSTATUS code, FILE* err) {
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
    std::fprintf(err, "%s\n", not_found_text);
    return 1;
  }
  char* message = nullptr;
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                          FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, static_cast<DWORD>(code), 0,
                                      reinterpret_cast<LPSTR>(&message), 0, nullptr);
  if (length == 0 || message == nullptr) {
    std::fprintf(err, "ERROR: Error %ld.\n", static_cast<long>(code));
    return 1;
  }
  std::string text(message, length);
  LocalFree(message);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  std::fprintf(err, "ERROR: %s\n", text.c_str());
  return 1;
}

std::u16string wide(const std::string& text) { return to_wide(text); }

std::string narrow(const std::u16string& text) {
  try {
    return to_narrow(text);
  } catch (...) {
    return std::string(text.size(), '?');
  }
}

// Yes/No from in; anything but an answer starting with y is No.
bool confirm(const std::string& question, FILE* in, FILE* out) {
  std::fprintf(out, "%s (Yes/No)? ", question.c_str());
  std::fflush(out);
  char answer[64];
  if (in == nullptr || std::fgets(answer, sizeof(answer), in) == nullptr) return false;
  return answer[0] == 'y' || answer[0] == 'Y';
}

void open_key(const command_t& command, const std::string& sub_key, REGSAM access,
              win::regkey_t& key) {
  const std::u16string path = wide(sub_key);
  check(RegOpenKeyExW(command.root, path.c_str(), 0, access, key.put()));
}

struct value_entry_t {
  std::u16string name;
  DWORD type = 0;
  std::string data;
};

// Reads one value, growing the buffer while a writer grows the value.
bool query_value(HKEY key, const std::u16string& name, value_entry_t& entry) {
  entry.name = name;
  for (int attempt = 0; attempt < 8; ++attempt) {
    DWORD size = 0;
    LSTATUS rc = RegQueryValueExW(key, name.c_str(), nullptr, &entry.type, nullptr, &size);
    if (rc == ERROR_FILE_NOT_FOUND) return false;
    check(rc);
    entry.data.assign(size, '\0');
    rc = RegQueryValueExW(key, name.c_str(), nullptr, &entry.type,
                          reinterpret_cast<LPBYTE>(entry.data.data()), &size);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc == ERROR_FILE_NOT_FOUND) return false;
    check(rc);
    entry.data.resize(size);
    return true;
  }
  check(ERROR_MORE_DATA);
  return false;
}

std::vector<value_entry_t> all_values(HKEY key) {
  std::vector<value_entry_t> values;
  for (DWORD index = 0;; ++index) {
    std::vector<char16_t> name(16384);
    DWORD length = static_cast<DWORD>(name.size());
    const LSTATUS rc =
        RegEnumValueW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    check(rc);
    value_entry_t entry;
    if (query_value(key, std::u16string(name.data(), length), entry)) values.push_back(entry);
  }
  return values;
}

std::vector<std::u16string> all_sub_keys(HKEY key) {
  std::vector<std::u16string> names;
  for (DWORD index = 0;; ++index) {
    char16_t name[256];
    DWORD length = 256;
    const LSTATUS rc =
        RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    check(rc);
    names.emplace_back(name, length);
  }
  return names;
}

void print_value(const value_entry_t& value, FILE* out) {
  const std::string name = value.name.empty() ? "(Default)" : narrow(value.name);
  std::fprintf(out, "    %s    %s    %s\n", name.c_str(), type_name(value.type).c_str(),
               display_data(value.type, value.data).c_str());
}

std::string child_path(const std::string& parent, const std::u16string& child) {
  return parent.empty() ? narrow(child) : parent + "\\" + narrow(child);
}

void query_tree(const command_t& command, const std::string& sub_key, FILE* out) {
  win::regkey_t key;
  open_key(command, sub_key, KEY_READ, key);
  const std::string full = sub_key.empty() ? command.root_name : command.root_name + "\\" + sub_key;
  const std::vector<value_entry_t> values = all_values(key.get());
  std::fprintf(out, "%s\n", full.c_str());
  for (const value_entry_t& value : values) print_value(value, out);
  std::fprintf(out, "\n");
  for (const std::u16string& child : all_sub_keys(key.get()))
    query_tree(command, child_path(sub_key, child), out);
}

// /v NAME /s: every key below that holds the value.
int search_value(const command_t& command, const std::string& sub_key, FILE* out) {
  win::regkey_t key;
  open_key(command, sub_key, KEY_READ, key);
  int found = 0;
  value_entry_t value;
  if (query_value(key.get(), wide(*command.value), value)) {
    const std::string full =
        sub_key.empty() ? command.root_name : command.root_name + "\\" + sub_key;
    std::fprintf(out, "%s\n", full.c_str());
    print_value(value, out);
    std::fprintf(out, "\n");
    ++found;
  }
  for (const std::u16string& child : all_sub_keys(key.get()))
    found += search_value(command, child_path(sub_key, child), out);
  return found;
}

// Runs an operation's body, turning registry failures into reg.exe's texts.
template <class F>
int guarded(FILE* err, F&& body) {
  try {
    return body();
  } catch (const call_failure_t& failure) {
    return report_failure(failure.code, err);
  }
}

}  // namespace

int run_query(const command_t& command, FILE* out, FILE* err) {
  return guarded(err, [&] {
    if (command.value && command.recurse) {
      std::string text;
      {
        // Collected first, so that a failure part-way prints nothing partial.
        char* buffer = nullptr;
        size_t size = 0;
        FILE* memory = open_memstream(&buffer, &size);
        if (memory == nullptr) throw call_failure_t{ERROR_NOT_ENOUGH_MEMORY};
        int found = 0;
        try {
          found = search_value(command, command.sub_key, memory);
        } catch (...) {
          std::fclose(memory);
          std::free(buffer);
          throw;
        }
        std::fclose(memory);
        text.assign(buffer, size);
        std::free(buffer);
        if (found == 0) throw call_failure_t{ERROR_FILE_NOT_FOUND};
        std::fprintf(out, "\n%sEnd of search: %d match(es) found.\n", text.c_str(), found);
      }
      return 0;
    }
    win::regkey_t key;
    open_key(command, command.sub_key, KEY_READ, key);
    if (command.value) {
      value_entry_t value;
      if (!query_value(key.get(), wide(*command.value), value))
        throw call_failure_t{ERROR_FILE_NOT_FOUND};
      std::fprintf(out, "\n%s\n", command.key_path().c_str());
      print_value(value, out);
      std::fprintf(out, "\n");
      return 0;
    }
    if (command.recurse) {
      std::fprintf(out, "\n");
      query_tree(command, command.sub_key, out);
      return 0;
    }
    const std::vector<value_entry_t> values = all_values(key.get());
    const std::vector<std::u16string> children = all_sub_keys(key.get());
    std::fprintf(out, "\n");
    if (!values.empty()) {
      std::fprintf(out, "%s\n", command.key_path().c_str());
      for (const value_entry_t& value : values) print_value(value, out);
      std::fprintf(out, "\n");
    }
    for (const std::u16string& child : children)
      std::fprintf(out, "%s\n", (command.root_name + "\\" + child_path(command.sub_key, child)).c_str());
    return 0;
  });
}

int run_add(const command_t& command, FILE* in, FILE* out, FILE* err) {
  return guarded(err, [&] {
    // The data is checked before anything is created.
    std::string bytes;
    if (command.value)
      bytes = encode_data(command.type, command.data.value_or(std::string()), command.separator_set);
    win::regkey_t key;
    const std::u16string path = wide(command.sub_key);
    check(RegCreateKeyExW(command.root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, nullptr, key.put(),
                          nullptr));
    if (command.value) {
      const std::u16string name = wide(*command.value);
      DWORD size = 0;
      const LSTATUS exists = RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, &size);
      if (exists == ERROR_SUCCESS && !command.force) {
        const std::string shown = command.value->empty() ? "(Default)" : *command.value;
        if (!confirm("Value " + shown + " exists, overwrite", in, out)) {
          std::fprintf(out, "The operation was canceled by the user.\n");
          return 1;
        }
      }
      check(RegSetValueExW(key.get(), name.c_str(), 0, type_of_name(command.type),
                           reinterpret_cast<const BYTE*>(bytes.data()),
                           static_cast<DWORD>(bytes.size())));
    }
    std::fprintf(out, "%s\n", success_text);
    return 0;
  });
}

int run_delete(const command_t& command, FILE* in, FILE* out, FILE* err) {
  return guarded(err, [&] {
    const bool whole_key = !command.value && !command.all_values;
    if (whole_key && command.sub_key.empty()) throw call_failure_t{ERROR_ACCESS_DENIED};
    win::regkey_t key;
    open_key(command, command.sub_key, KEY_READ | KEY_SET_VALUE | DELETE, key);
    if (command.value) {
      value_entry_t value;
      if (!query_value(key.get(), wide(*command.value), value))
        throw call_failure_t{ERROR_FILE_NOT_FOUND};
    }
    if (!command.force) {
      std::string question;
      if (whole_key)
        question = "Permanently delete the registry key " + command.key_path();
      else if (command.all_values)
        question = "Delete all values under the registry key " + command.key_path();
      else
        question = "Delete the registry value " + (command.value->empty() ? std::string("(Default)") : *command.value);
      if (!confirm(question, in, out)) {
        std::fprintf(out, "The operation was canceled by the user.\n");
        return 1;
      }
    }
    if (whole_key) {
      const std::u16string path = wide(command.sub_key);
      check(RegDeleteTreeW(command.root, path.c_str()));
    } else if (command.value) {
      check(RegDeleteValueW(key.get(), wide(*command.value).c_str()));
    } else {
      for (const value_entry_t& value : all_values(key.get())) {
        const LSTATUS rc = RegDeleteValueW(key.get(), value.name.c_str());
        if (rc != ERROR_FILE_NOT_FOUND) check(rc);  // gone meanwhile: fine
      }
    }
    std::fprintf(out, "%s\n", success_text);
    return 0;
  });
}

}  // namespace reg_tool
