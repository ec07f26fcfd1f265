// Stand-in for the COM task allocator and the GUID text form.
#include <cstdlib>

#include "platform/com.h"

LPVOID CoTaskMemAlloc(size_t size) { return std::malloc(size == 0 ? 1 : size); }

LPVOID CoTaskMemRealloc(LPVOID memory, size_t size) {
  return std::realloc(memory, size == 0 ? 1 : size);
}

void CoTaskMemFree(LPVOID memory) { std::free(memory); }

namespace {

constexpr int guid_text_length = 38;  // without the terminator

int hex_value(OLECHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads digits hexadecimal digits at text[pos]; false on any other character.
bool read_hex(LPCOLESTR text, int pos, int digits, uint64_t& value) {
  value = 0;
  for (int i = 0; i < digits; ++i) {
    const int v = hex_value(text[pos + i]);
    if (v < 0) return false;
    value = (value << 4) | static_cast<uint64_t>(v);
  }
  return true;
}

bool parse_guid(LPCOLESTR text, GUID& out) {
  // The text must be exactly the 38 characters: no blanks, no trailing text.
  for (int i = 0; i < guid_text_length; ++i) {
    if (text[i] == u'\0') return false;
  }
  if (text[guid_text_length] != u'\0') return false;
  if (text[0] != u'{' || text[37] != u'}' || text[9] != u'-' || text[14] != u'-' ||
      text[19] != u'-' || text[24] != u'-') {
    return false;
  }
  GUID g{};
  uint64_t v = 0;
  if (!read_hex(text, 1, 8, v)) return false;
  g.Data1 = static_cast<uint32_t>(v);
  if (!read_hex(text, 10, 4, v)) return false;
  g.Data2 = static_cast<uint16_t>(v);
  if (!read_hex(text, 15, 4, v)) return false;
  g.Data3 = static_cast<uint16_t>(v);
  static const int byte_pos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!read_hex(text, byte_pos[i], 2, v)) return false;
    g.Data4[i] = static_cast<uint8_t>(v);
  }
  out = g;
  return true;
}

}  // namespace

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
  if (clsid == nullptr) return E_INVALIDARG;
  if (text == nullptr) {
    *clsid = GUID_NULL;  // as COM does for a null text
    return S_OK;
  }
  return parse_guid(text, *clsid) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
  if (iid == nullptr || text == nullptr) return E_INVALIDARG;
  return parse_guid(text, *iid) ? S_OK : E_INVALIDARG;
}

int StringFromGUID2(REFGUID guid, LPOLESTR out, int max) {
  if (out == nullptr || max < guid_text_length + 1) return 0;
  static const char digits[] = "0123456789ABCDEF";
  int pos = 0;
  auto put_hex = [&](uint64_t value, int count) {
    for (int i = count - 1; i >= 0; --i) out[pos++] = static_cast<OLECHAR>(digits[(value >> (4 * i)) & 0xF]);
  };
  out[pos++] = u'{';
  put_hex(guid.Data1, 8);
  out[pos++] = u'-';
  put_hex(guid.Data2, 4);
  out[pos++] = u'-';
  put_hex(guid.Data3, 4);
  out[pos++] = u'-';
  put_hex(guid.Data4[0], 2);
  put_hex(guid.Data4[1], 2);
  out[pos++] = u'-';
  for (int i = 2; i < 8; ++i) put_hex(guid.Data4[i], 2);
  out[pos++] = u'}';
  out[pos++] = u'\0';
  return pos;
}
