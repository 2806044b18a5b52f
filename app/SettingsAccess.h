// The two fields of the settings record that restore the window: the
// ribbon category and the tool last shown.
#pragma once
#include "core/ToolSettings.h"

inline int32_t& CatIndex(ToolSettings& s) { return s.catIndex; }
inline int32_t& SelIndex(ToolSettings& s) { return s.selIndex; }
inline int32_t CatIndex(const ToolSettings& s) { return s.catIndex; }
inline int32_t SelIndex(const ToolSettings& s) { return s.selIndex; }
