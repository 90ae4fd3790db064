#pragma once

#include <string>
#include <string_view>

namespace bramvell {

class TokenSink;

// The text of HTML with its tags, comments, styles and scripts dropped and entities replaced; tag names
// and link targets go to tokens ("html:p", "url:example.com").
std::string TextOfHtml(std::string_view html, TokenSink& tokens);

}  // namespace bramvell
