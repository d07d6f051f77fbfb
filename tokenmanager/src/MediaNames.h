// Names of entries on certificate media, which were designed for file systems that ignore case.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "SGOS.h"
#include "TokenTables.h"

namespace brindlow::token {

// Names are compared without regard to case over at most 256 characters.
inline bool sameName(const std::string& a, const std::string& b) {
    return TM_BASE(SGOS_strncasecmp)(a.c_str(), b.c_str(), 256u) == 0;
}

// The name as the folder spells it ("YESSIGN" opens as "yessign" where case is ignored), the
// exact spelling first.
inline std::string spelledAs(const std::vector<std::string>& names, const std::string& name) {
    if (std::find(names.begin(), names.end(), name) != names.end()) return name;
    for (const auto& candidate : names)
        if (sameName(candidate, name)) return candidate;
    return name;
}

}  // namespace brindlow::token
