// Carrying metadata over to a newly written JPEG picture: copying every
// tag of one file's EXIF block into another, and stamping a picture with a
// shooting time taken from a file's last modification.
#pragma once

#include <string>

// Copies every tag of source's APP1 "Exif" segment (all directories) into
// target's, which is created when missing. Both must be JPEG files by
// name. False on any failure, and then the target is left as it was.
bool CloneExifTags(const std::wstring& source, const std::wstring& target);

// Writes the local-time last modification of `source` as the target's
// DateTimeOriginal ("YYYY:MM:DD hh:mm:ss"). The target must be a JPEG file
// by name; a year outside 1000-9999 cannot be written in that form and is
// refused. True when the tag was written and the file saved.
bool WriteShootingTime(const std::wstring& source, const std::wstring& target);
