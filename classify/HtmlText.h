#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bramvell {

// The text of HTML with its tags, comments, styles and scripts dropped and entities replaced; tag names
// and link targets go to tokens ("html:p", "url:example.com").
std::string TextOfHtml(std::string_view html, std::vector<std::string>& tokens);

}  // namespace bramvell
