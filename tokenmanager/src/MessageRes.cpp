#include "MessageRes.h"

#include <mutex>

#include "MessageTexts.h"
#include "SGCodec.h"
#include "SGMemory.h"
#include "TokenTables.h"

std::map<uint64_t, const char*> MessageRes::reasonBook;
bool MessageRes::initialized = false;

namespace {

std::once_flag gFilled;

// The key of a code: its 32 bits widened without sign extension.
uint64_t keyOf(int32_t code) {
    return static_cast<uint32_t>(code);
}

}  // namespace

void MessageRes::initialize() {
    std::call_once(gFilled, [] {
        // Rows added before the first fill are dropped with everything else.
        reasonBook.clear();
        for (const auto& row : brindlow::token::kMessageTexts)
            reasonBook.emplace(keyOf(row.code), row.text);
        initialized = true;
    });
}

const char* MessageRes::getMessage(MessageResCode code) {
    initialize();
    const auto it = reasonBook.find(keyOf(code));
    return it == reasonBook.end() ? brindlow::token::kUnknownText : it->second;
}

std::string MessageRes::getMessageNS(MessageResCode code) {
    const char* text = getMessage(code);
    if (!text || !*text) return {};
    char* utf8 = nullptr;
    if (TM_BASE(SGCodecConvertCodeSet)("ko_KR.euc-kr", "ko_KR.UTF-8", text, &utf8) != 0 || !utf8)
        return {};
    std::string result(utf8);
    TM_BASE(SGMemory_free)(utf8);
    return result;
}

void MessageRes::addMessage(MessageResCode code, const char* text) {
    if (!text) return;  // a lookup must never hand out null
    reasonBook.emplace(keyOf(code), text);
}
