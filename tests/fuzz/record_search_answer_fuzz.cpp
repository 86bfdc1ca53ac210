// Arbitrary bytes as a device's record search answer to the media record query (the device
// searches in UTC, so no time query comes first). The query ends with one of its codes, and a
// success answer is a document the host's reader takes whole.
#include <cstddef>
#include <cstdint>
#include <string>

#include "../support/FakeMediaPort.h"
#include "common/Utf8.h"
#include "common/XmlCursor.h"
#include "media/MediaOrders.h"
#include "media/OrderMessage.h"
#include "runlog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = (RunLog_SetLevel(100), true);
    (void)quiet;
    FakeMediaPort port;
    port.script(0, "<c><isSupportTimeTypeSTD>true</isSupportTimeTypeSTD></c>");
    port.script(0, std::string(reinterpret_cast<const char*>(data), size));
    CXmlCursor order(
        "<Message><Pack type=\"TNP\"><Command>QUERY_RECORDFILE_OVIX_REQ</Command><DevIndexCode>c1</DevIndexCode>"
        "<Channel>1</Channel><StreamType>1</StreamType><BeginTime>2024-05-01T00:00:00Z</BeginTime>"
        "<EndTime>2024-05-01T01:00:00Z</EndTime></Pack></Message>");
    CTarnMessage msg;
    if (!msg.parse(order)) __builtin_trap();
    CXmlCursor rsp;
    const int32_t rc = MediaOrders(port).ProcQueryRecordFileOVIX(order, msg, rsp);
    if (port.ovixCalls.size() != 2) __builtin_trap();
    if (rc != 0 && rc != -1) __builtin_trap();
    CXmlCursor back(rsp.document());
    if (!back.parseResult().empty()) __builtin_trap();
    if (rc == 0 && (rsp.document().find("<File><23/><SegmentCount>") == std::string::npos ||
                    !vexa::isValidUtf8(rsp.document())))
        __builtin_trap();
    return 0;
}
