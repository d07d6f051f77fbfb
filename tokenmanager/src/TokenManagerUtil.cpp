#include "TokenManagerUtil.h"

#include <initializer_list>
#include <utility>

#include "SGMemory.h"
#include "TokenTables.h"

bool TokenManagerUtil::initialized = false;

void TokenManagerUtil::initialize() {
    initialized = true;
}

void TokenManagerUtil::zeroMemory(char* first, int firstLength, char* second, int secondLength,
                                  char* third, int thirdLength) {
    // The five-pass wipe writes through the library, so the compiler cannot drop it even when
    // the caller's buffers die right after.
    for (auto [buffer, length] : {std::pair{first, firstLength}, std::pair{second, secondLength},
                                  std::pair{third, thirdLength}}) {
        if (buffer && length > 0) TM_BASE(SGMemory_cleanse)(buffer, static_cast<size_t>(length));
    }
}
