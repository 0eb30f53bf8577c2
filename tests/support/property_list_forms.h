// The text forms an XML property list may come in from other writers (a UTF-8
// byte-order mark, UTF-16 of either byte order with or without its mark), for
// tests that every reader takes them as the platform does.
#pragma once

#include "support/sandbox.h"

#include <string>
#include <vector>

namespace mivora::testing {

enum class PlistTextForm {
    utf8,                    // as libplist writes it
    utf8WithByteOrderMark,   // EF BB BF first
    utf16LittleEndian,       // FF FE, then the text; declared "UTF-16"
    utf16BigEndian,          // FE FF, then the text; declared "UTF-16"
    utf16LittleEndianNoMark, // told only by its declaration's 16-bit "<?"
    utf16BigEndianNoMark,
};

struct NamedPlistTextForm {
    const char* name;
    PlistTextForm form;
};
// Every form, with a name for test traces.
const std::vector<NamedPlistTextForm>& plistTextForms();

// XML property-list text (UTF-8) in `form`; a UTF-16 form declares itself so.
std::string plistText(std::string xml, PlistTextForm form);
std::string plistText(const platform::Plist& plist, PlistTextForm form);

// Rewrites the property list at `path` (either form) as XML text in `form`.
void rewritePlist(const Sandbox& sandbox, const std::string& path, PlistTextForm form);

} // namespace mivora::testing
