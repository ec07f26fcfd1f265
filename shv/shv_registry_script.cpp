// The keys healthval writes under HKEY_CLASSES_ROOT when it is registered.
#include "shv/shv_registry_script.h"

namespace shv {

const std::string& registry_script() {
  static const std::string script = R"(HKCR
{
  Vexor.SHV = s 'VexorLabs SHV object'
  {
    CLSID = s '{60d48d71-1c65-4775-a2c2-2e331632914d}'
  }
  NoRemove CLSID
  {
    ForceRemove {60d48d71-1c65-4775-a2c2-2e331632914d} = s 'Vexor System Health Validator'
    {
      val AppID = s '{162cb876-e4cb-424e-abc3-bd87de5f29d9}'
      ProgID = s 'Vexor.SHV'
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Both'
      }
    }
  }
  NoRemove AppID
  {
    '{162cb876-e4cb-424e-abc3-bd87de5f29d9}' = s 'healthval'
    {
      val AuthenticationLevel = d '0'
      val DllSurrogate = s ''
      val RunAs = s 'Interactive User'
    }
    'healthval.DLL'
    {
      val AppID = s '{162cb876-e4cb-424e-abc3-bd87de5f29d9}'
    }
  }
}
)";
  return script;
}

}  // namespace shv
