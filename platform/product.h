// The product's names, as its windows, messages and folders show them.
#pragma once

namespace kv {

inline constexpr const char* kProductName = "Brightfold Kalvero 2";
inline constexpr const char* kCompanyFolderName = "Brightfold";
inline constexpr const char* kProductFolderName = "Kalvero 2";
inline constexpr const char* kSettingsFolderName = "Settings";
inline constexpr const char* kOptionsTitle = "Kalvero 2 Options";
inline constexpr const char* kContentsHelpPage = "Contents.html";
inline constexpr const char* kErrorsHelpPage = "Errors.html";

}  // namespace kv
