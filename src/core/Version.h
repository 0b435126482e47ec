#pragma once
#include <string_view>

namespace qm {

// The trailing blank is part of the version: the texts built from it rely on it.
inline constexpr std::string_view kVersionText = "1.5.8 ";
inline constexpr std::string_view kVersionDate = "(2007 Oct 15)";
inline constexpr std::string_view kMainCaption = "Skarvelin Quillmaren (Courtesy of Vantoreal)";

} // namespace qm
