// The NAP data record the client-side agent writes into its SoH: "1 client_id
// digest", three words separated by single blanks.
#pragma once

#include <string>

namespace shv {

// Splits and checks a record (every blank separates, so empty words count).
// On success fills client_id and digest and returns true; otherwise logs at
// level 1 why the record is malformed and returns false.
bool check_record(const std::string& record, std::string& client_id, std::string& digest);

}  // namespace shv
