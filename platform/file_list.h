// File lists: ordered lists of wide path strings. A tool's source and
// destination lists are parallel lists of equal length.
#pragma once

#include <string>
#include <vector>

using FileList = std::vector<std::wstring>;
