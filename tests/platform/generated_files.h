// The generated files of the differential check of the file readers.
#pragma once

#include <string>

// Writes the generated settings files into FOLDER/settings and the save files into
// FOLDER/save (the folder is emptied first). Returns the number of files, or -1
// with the reason in *error.
int writeGeneratedFiles(const std::string& folder, std::string* error);
