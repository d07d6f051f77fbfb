// Item ids: a certificate's identifier followed by one digit that names its part.
#pragma once

#include <cstring>
#include <string>

namespace brindlow::token {

// The identifier part of an item id: everything but its last character; empty for no id.
inline std::string identifierPart(const char* itemId) {
    if (!itemId || !*itemId) return {};
    const std::string id(itemId);
    return id.substr(0, id.size() - 1);
}

// The digit that names the part; NUL for no id.
inline char lastCharacter(const char* itemId) {
    return itemId && *itemId ? itemId[std::strlen(itemId) - 1] : '\0';
}

}  // namespace brindlow::token
