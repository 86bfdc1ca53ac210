// Arbitrary bytes as a ZORNA envelope in both forms; what was read is written and read back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/ZornaMessage.h"

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

// Texts with an ampersand may hold entity references, which are kept as written.
bool same(const std::string& a, const std::string& b) { return a.find('&') != std::string::npos || a == b; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CXmlCursor doc(std::string(reinterpret_cast<const char*>(data), size));
    CZornaMessage full, alarm;
    const bool ok = full.parse(doc);
    // The caller reads its parameters from where the parse left the cursor.
    if (doc.findElementWrap("Type")) (void)doc.elementText();
    check(alarm.parseAlarm(doc) == ok);
    if (!ok) return 0;
    // Both forms read the header alike; later fields may differ when a name repeats, because the
    // wrap-around lookup starts from wherever the "Pu" block left the cursor.
    check(alarm.Version == full.Version && alarm.Sequence == full.Sequence && alarm.CommandType == full.CommandType);

    CXmlCursor out;
    check(full.build(out));
    check(out.addElement("ConfigCmd", full.ConfigCmd) && out.addElement("DeviceID", full.DeviceID) &&
          out.addElement("DeviceSN", full.DeviceSN) && out.addElement("RegIp", full.RegIp) &&
          out.addElement("RegPort", std::to_string(full.RegPort)));
    CXmlCursor back(out.document());
    check(back.parseResult().empty());
    CZornaMessage again;
    check(again.parse(back));
    check(same(full.Version, again.Version) && full.Sequence == again.Sequence &&
          same(full.CommandType, again.CommandType));
    if (!full.PuIp.empty()) check(same(full.PuIp, again.PuIp) && full.PuPort == again.PuPort);
    if (full.CommandType == "REQUEST") {
        check(same(full.Command, again.Command) && same(full.ConfigCmd, again.ConfigCmd) &&
              same(full.DeviceID, again.DeviceID) && same(full.DeviceSN, again.DeviceSN) &&
              same(full.RegIp, again.RegIp) && full.RegPort == again.RegPort);
    } else if (full.CommandType == "RESPONSE") {
        check(same(full.WhichCommand, again.WhichCommand) && full.Status == again.Status &&
              same(full.Description, again.Description));
    }
    return 0;
}
