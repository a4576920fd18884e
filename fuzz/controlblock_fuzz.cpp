// The control block reader. The input is a run of front-end requests (Ctrl+C, cancel, keys) and
// reads by the child. Properties: a read gives the most urgent pending request (Ctrl+C, then
// cancel, then a key with the last key code sent), each request once; a name that is not a
// block's is refused.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "zentra/codepage.h"
#include "zentra/pipe.h"

using zentra::CControlLink;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static zentra::CControlBlock block;
    static CControlLink link;
    static bool ready = block.Create() && link.Open(block.GetName().c_str());
    if (!ready) std::abort();
    link.ClearRequests();

    // The first bytes, as a name, must not open anything but a block of this user.
    if (size > 0 && data[0] < 16) {
        std::string name(reinterpret_cast<const char*>(data + 1), std::min<std::size_t>(size - 1, data[0] * 8));
        CControlLink other;
        const std::wstring wide = zentra::Utf8ToWide(name);
        if (other.Open(wide.c_str()) && wide != block.GetName()) std::abort();
    }

    bool ctrlC = false, cancel = false, key = false;
    int lastKey = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t op = data[i];
        switch (op % 4) {
        case 0:
            block.Abort();
            ctrlC = true;
            break;
        case 1:
            block.Disconnect();
            cancel = true;
            break;
        case 2:
            block.KeyDown(op >> 2);
            key = true;
            lastKey = op >> 2;
            break;
        case 3: {
            int code = -1;
            const CControlLink::Request got = link.TakeRequest(&code);
            CControlLink::Request want = CControlLink::None;
            if (ctrlC) want = CControlLink::CtrlC, ctrlC = false;
            else if (cancel) want = CControlLink::Cancel, cancel = false;
            else if (key) want = CControlLink::Key, key = false;
            if (got != want) std::abort();
            if (got == CControlLink::Key && code != lastKey) std::abort();
            break;
        }
        }
    }
    return 0;
}
