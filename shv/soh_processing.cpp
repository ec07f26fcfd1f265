// One request's work: read the statement of health, check the NAP data record,
// have it judged, and hand back the SoH response.
#include <cstring>

#include "base/com_ptr.h"
#include "common/nap_common.h"
#include "common/settings.h"
#include "kern/logger.h"
#include "kern/unicode.h"
#include "shv/nap_record.h"
#include "shv/nap_validate.h"
#include "shv/policy_configuration.h"
#include "shv/shv_validator.h"
#include "shv/soh_ptr.h"

using base_n::com_ptr_t;
using napcommon::check_res;

void SHVValidator::process_request(INapSystemHealthValidationRequest* request, shv_result_t& result) {
  // A request whose network policy cannot be told is a failed query: judged
  // by another policy's configuration, it could be admitted by a default
  // that has validation off.
  const std::optional<uint32_t> config_id = shv::configuration_id(request);
  if (!config_id) {
    result.set(shv_not_compliant, shv_failure_server_communication);
    return;
  }
  // The network policy's configuration, read once; the default's settings
  // are read where they are used, as they always were.
  const std::optional<shv_settings::values_t> policy = shv::configuration_settings(*config_id);
  if ((policy ? policy->validate : shv_settings::read_number("validate")) == 0) {
    result.set(S_OK, 0);
    return;
  }
  // Declared in this order so that the reader goes before the SoH on every
  // way out, and the attribute value before both.
  shv::soh_ptr_t soh;
  com_ptr_t<INapSoHProcessor> reader;
  shv::soh_value_ptr_t value;

  BOOL generated = FALSE;
  check_res(request->GetSoHRequest(soh.out(), &generated), "Unable to get SoH request");
  if (!soh) check_res(NAP_E_MISSING_SOH, "SoH request missed");
  check_res(CoCreateInstance(clsid_nap_soh_processor, nullptr, CLSCTX_INPROC_SERVER, IID_INapSoHProcessor,
                             reader.out_void()),
            "Unable to create INapSoHProcessor");
  if (!reader) check_res(E_POINTER, "INapSoHProcessor is empty");
  SystemHealthEntityId id = 0;
  check_res(reader->Initialize(soh.get(), TRUE, &id), "Unable to initialize INapSoHProcessor");
  UINT16 location = 0;
  check_res(reader->FindNextAttribute(0, sohAttributeTypeVendorSpecific, &location),
            "Unable to iterate ISohRequest attributes");
  check_res(reader->GetAttribute(location, value.type_out(), value.out()), "Unable to retrive ISohRequest attributes");
  if (!value) check_res(NAP_E_INVALID_PACKET, "ISohRequest attribut is null");
  if (value->vendorSpecificVal.vendorId != shv_id) check_res(NAP_E_INVALID_PACKET, "Vendor ID is incorrect");
  const auto& vendor = value->vendorSpecificVal;
  const std::string record(reinterpret_cast<const char*>(vendor.vendorSpecificData),
                           vendor.vendorSpecificData != nullptr ? vendor.size : 0);
  value.reset();
  KLOG(lvl_debug3, "NAP DATA is %.*s", static_cast<int>(record.size()), record.data());
  validate(record, policy ? &*policy : nullptr, result);
}

void SHVValidator::validate(const std::string& record, const shv_settings::values_t* policy, shv_result_t& result) {
  result.set(shv_not_compliant, shv_failure_server_communication);
  std::string client_id, digest;
  if (!shv::check_record(record, client_id, digest)) return;
  if (policy != nullptr) {
    nap_validate(result, to_narrow(policy->server_name), policy->server_port, policy->server_timeout,
                 policy->cache_time, client_id, digest, policy->stale_time);
    return;
  }
  const std::string host = to_narrow(shv_settings::read_string("server_name"));
  const uint32_t port = shv_settings::read_number("server_port");
  const uint32_t server_timeout = shv_settings::read_number("server_timeout");
  const uint32_t cache_timeout = shv_settings::read_number("cache_time");
  // Without a server there is nothing to be stale about; without the key
  // (no server either) the reads above have said so once each already.
  const uint32_t stale_time = host.empty() ? 0 : shv_settings::read_number("stale_time");
  nap_validate(result, host, port, server_timeout, cache_timeout, client_id, digest, stale_time);
}

void SHVValidator::prepare_response(const shv_result_t& result, INapSystemHealthValidationRequest* request) {
  // The writer is released after the response SoH is freed.
  com_ptr_t<INapSoHConstructor> writer;
  shv::soh_ptr_t response;

  check_res(CoCreateInstance(clsid_nap_soh_constructor, nullptr, CLSCTX_INPROC_SERVER, IID_INapSoHConstructor,
                             writer.out_void()),
            "Unable to create INapSoHConstructor");
  if (!writer) check_res(E_POINTER, "Unable to create INapSoHConstructor");
  check_res(writer->Initialize(shv_id, FALSE), "Unable to initialize INapSoHConstructor");
  SoHAttributeValue value;
  std::memset(&value, 0, sizeof(value));
  HRESULT code = result.compliance_result_code;
  SoHAttributeType type;
  if (result.failure_category == 0) {
    type = sohAttributeTypeComplianceResultCodes;
    value.codesVal.count = 1;
    value.codesVal.results = &code;
  } else {
    type = sohAttributeTypeFailureCategory;
    value.uint8Val = result.failure_category;
  }
  check_res(writer->AppendAttribute(type, &value), "Unable to append attribute");
  writer->GetSoH(response.out());
  if (!response) check_res(E_POINTER, "Invalid SoH response");
  check_res(request->SetSoHResponse(response.get()), "Unable to set SoH response");
}
