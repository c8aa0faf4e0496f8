// Finding a section of config.xml or of a preset bank document by the start of its name, as
// both files are read: the first child node (of any kind) whose value begins with the name.
// Internal to the config library.
#pragma once

#include <tinyxml2.h>

#include <cstring>
#include <string>

namespace skv::xml {

inline bool startsWith(const char* text, const std::string& prefix)
{
    return text && std::strncmp(text, prefix.c_str(), prefix.size()) == 0;
}

/// First child node of parent whose value begins with name, or null.
inline const tinyxml2::XMLNode* findSection(const tinyxml2::XMLNode* parent,
                                            const std::string& name)
{
    for (const tinyxml2::XMLNode* node = parent->FirstChild(); node; node = node->NextSibling()) {
        if (startsWith(node->Value(), name)) {
            return node;
        }
    }
    return nullptr;
}

/// The same, for a section that must be an element: null when the first match is a comment
/// or text, which makes the document unreadable rather than sending the search further.
inline const tinyxml2::XMLElement* findElementSection(const tinyxml2::XMLNode* parent,
                                                      const std::string& name)
{
    const tinyxml2::XMLNode* node = findSection(parent, name);
    return node ? node->ToElement() : nullptr;
}

}  // namespace skv::xml
