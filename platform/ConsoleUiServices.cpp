#include "platform/ConsoleUiServices.h"

namespace veltrano {

BoxAnswer ConsoleMessageBoxes::Show(const BoxRequest& request) {
    std::fprintf(stream_, "%s: %s\n", programName_.c_str(), request.text.c_str());
    std::fflush(stream_);
    switch (request.buttons) {
    case BoxButtons::YesNo:
    case BoxButtons::YesNoCancel: return BoxAnswer::No;
    case BoxButtons::OkCancel: return BoxAnswer::Cancel;
    default: return BoxAnswer::Ok;
    }
}

}  // namespace veltrano
