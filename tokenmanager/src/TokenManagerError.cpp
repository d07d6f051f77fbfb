#include "TokenManagerError.h"

#include <mutex>

#include "Logger.h"
#include "MessageTexts.h"
#include "SGOS.h"
#include "TokenLog.h"
#include "TokenTables.h"

std::map<uint64_t, const char*> TokenManagerError::reasonBook;
bool TokenManagerError::initialized = false;

namespace {

std::once_flag gFilled;

uint64_t keyOf(int32_t code) {
    return static_cast<uint32_t>(code);
}

}  // namespace

void TokenManagerError::initialize() {
    std::call_once(gFilled, [] {
        reasonBook.clear();
        for (const auto& row : brindlow::token::kReasonTexts)
            reasonBook.emplace(keyOf(row.code), row.text);
        initialized = true;
    });
}

const char* TokenManagerError::getReason(TokenManagerErrorCode code) {
    initialize();
    const auto it = reasonBook.find(keyOf(code));
    return it == reasonBook.end() ? brindlow::token::kUnknownText : it->second;
}

const char* TokenManagerError::getReason(TokenManagerErrorCode code, int* codeOut, char* buffer,
                                         int detail) {
    const char* text = getReason(code);
    if (codeOut) *codeOut = code;
    if (buffer) {
        if (detail != 0)
            TM_BASE(SGOS_sprintf)(buffer, "%s(%d)", text, detail);
        else
            TM_BASE(SGOS_sprintf)(buffer, "%s", text);
    }
    return text;
}

const char* TokenManagerError::getReason(TokenManagerErrorCode code, Logger* logger) {
    const char* text = getReason(code);
    TOKEN_DEBUG(logger, "(code:%d) %s", static_cast<int>(code), text);
    return text;
}

void TokenManagerError::addReason(TokenManagerErrorCode code, const char* text) {
    if (!text) return;  // a lookup must never hand out null
    reasonBook.emplace(keyOf(code), text);
}
