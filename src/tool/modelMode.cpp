#include "model/qmModel.h"
#include "tool/modes.h"
#include "util/outputFile.h"

#include <stdexcept>

void runModelMode(const std::string& modelFile, const std::string& outputFile) {
    QmModel model;
    if (!loadQmFile(modelFile, model)) {
        throw std::runtime_error("Unable to load QM file.\n");
    }
    // The output is only touched once the whole model has loaded (it may be the model file
    // itself), and then replaced whole or not at all.
    if (!writeWholeFile(outputFile, model.imageBytes.data(), model.imageBytes.size())) {
        throw std::runtime_error("Unable to create output file.\n");
    }
}
