#pragma once
#include <string>
#include <string_view>

namespace qm {

// The trailing blank is part of the version: the texts built from it rely on it.
inline constexpr std::string_view kVersionText = "1.5.8 ";
inline constexpr std::string_view kVersionDate = "(2007 Oct 15)";
inline constexpr std::string_view kMainCaption = "Skarvelin Quillmaren (Courtesy of Vantoreal)";

// The reverse-DNS id of the installed menu entry (<id>.desktop) and of its AppStream
// metadata (<id>.metainfo.xml), and the icon's name in the hicolor theme.
inline constexpr std::string_view kApplicationId = "org.vantoreal.Quillmaren";
inline constexpr std::string_view kIconName = "quillmaren";

// Where the feedback links of the main window and the about box send their mail.
inline constexpr std::string_view kFeedbackAddress = "feedback@vantoreal.example";

// "Version 1.5.8 (2007 Oct 15)": the version labels and the log header.
inline std::string versionLabel()
{
    return "Version " + std::string(kVersionText) + std::string(kVersionDate);
}

// "Quillmaren v1.5.8 User Feedback"
inline std::string feedbackSubject()
{
    return "Quillmaren v" + std::string(kVersionText) + "User Feedback";
}

} // namespace qm
