// The verdict for one NAP data record: from the verdict cache, or from a
// conversation with the central server. Always fills result; never throws.
// Verdicts are cached per client, digest and server (host and port as
// given). A port above 65535 connects nowhere: the request fails as one with
// a malformed address does (failure category 5, a level-1 line). host may
// name several servers (see nap_servers::split). Verdicts are kept for
// cache_timeout + stale_time seconds and served fresh within cache_timeout;
// when no server gives a verdict, one no older than both together is the
// answer instead (0: no such grace, every such request is not compliant).
#pragma once

#include <cstdint>
#include <string>

#include "shv/shv_result.h"

void nap_validate(shv_result_t& result, const std::string& host, uint32_t port, uint32_t server_timeout,
                  uint32_t cache_timeout, const std::string& client_id, const std::string& digest,
                  uint32_t stale_time = 0);
