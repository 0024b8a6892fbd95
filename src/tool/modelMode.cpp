#include "model/qmModel.h"
#include "tool/failureReport.h"
#include "tool/messages.h"
#include "tool/modes.h"
#include "util/outputFile.h"

void runModelMode(const std::string& modelFile, const std::string& outputFile) {
    QmModel model;
    if (Outcome loaded = loadQmModel(modelFile, model); !loaded) {
        throw ToolFailure(messages::kLoadModel, modelFile, loaded.reason());
    }
    // The output is only touched once the whole model has loaded (it may be the model file
    // itself), and then replaced whole or not at all.
    if (Outcome written =
            writeWholeFile(outputFile, model.imageBytes.data(), model.imageBytes.size());
        !written) {
        throw ToolFailure(messages::kCreateOutput, outputFile, written.reason());
    }
}
