// The tool's two modes. Each runs to its end or throws std::runtime_error with the whole
// text to print.
#pragma once

#include <string>

// -f: load a QM model file completely and write its embedded JPEG file unchanged.
void runModelMode(const std::string& modelFile, const std::string& outputFile);

// -i: shading-ratio image of two bitmaps of the same size, written as a JPEG file.
void runImageMode(const std::string& sourceFile, const std::string& finalFile,
                  const std::string& outputFile);
