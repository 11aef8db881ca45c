#pragma once
// Message boxes for a program without windows: each box is a line on the
// error stream, and a question is answered No.

#include "platform/UiServices.h"

#include <cstdio>
#include <string>

namespace veltrano {

class ConsoleMessageBoxes final : public IMessageBoxes {
public:
    explicit ConsoleMessageBoxes(std::string programName, std::FILE* stream = stderr)
        : programName_(std::move(programName)), stream_(stream) {}
    BoxAnswer Show(const BoxRequest& request) override;
    std::string ApplicationName() const override { return programName_; }

private:
    std::string programName_;
    std::FILE* stream_;
};

}  // namespace veltrano
