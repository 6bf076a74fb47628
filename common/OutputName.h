// Names of the clips the jobs write beside their source (the source path without its extension,
// a tag and the local time, and a numbered variant when that name is taken already), and the
// percent text the jobs show.
#pragma once

#include <ctime>
#include <string>

// "%s<tag>%d_%d_%d_%d_%d_%d.%s" of the path up to its last ".", the year, month (1 to 12), day,
// hour, minute, second of localTime, and the text after the last "." (no leading zeros). A path
// without a "." keeps all of itself as the base and gets an empty extension.
std::string TimedOutputName(const std::string& sourcePath, const std::string& tag,
                            const std::tm& localTime);

// The name with "_<n>" added before its extension (the text after the last "." of the file
// name); n < 2 gives the name unchanged.
std::string NumberedOutputName(const std::string& name, int n);

// True when something (a file, a folder, a dangling link) already has this name.
bool OutputNameTaken(const std::string& name);

// The first of name, name_2, name_3, ... that is not taken; "" when the first maxTries are.
std::string FreeOutputName(const std::string& name, int maxTries = 1000);

// The jobs' percent text: "%" followed by the value written with "%0.0f" ("%0" ... "%100").
std::string PercentOfJobText(double percent);
