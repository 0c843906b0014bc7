// The files of the web folder that the operator's listener serves to
// browsers: only plain files under the folder, of a few known kinds.
#ifndef HISTDATA_SERVICE_OPS_WEB_FILES_H_
#define HISTDATA_SERVICE_OPS_WEB_FILES_H_

#include <optional>
#include <string>

namespace hist::ops {

struct WebFile {
  std::string path;          // absolute, inside the folder
  std::string content_type;  // from the extension
};

// The file that `name` (a relative path such as "chart.js" or
// "lib/chart.umd.js", as sent, not decoded) names under `folder`, or none
// when the name is empty, absolute, holds an empty, "." or ".." segment or
// any character outside letters, digits and "._-/", has an extension not
// served, or leads (through links too) to anything but a regular file
// inside the folder.
std::optional<WebFile> FindWebFile(const std::string& folder, const std::string& name);

// The web folder used when none is given: the first that exists of
// <program folder>/web (a build tree) and <program folder>/../share/histdata/web
// (an installed package); empty when neither does.
std::string DefaultWebFolder(const std::string& program_folder);

}  // namespace hist::ops

#endif  // HISTDATA_SERVICE_OPS_WEB_FILES_H_
