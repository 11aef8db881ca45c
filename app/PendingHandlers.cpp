// Temporary: handlers whose subsystems are still being built. Each moves to its
// own folder (source/, convert/) when that subsystem lands; this file then goes.

#include "app/ConverterDialog.h"

namespace veltrano {

void ConverterDialog::OnOpenMediaFile() {}
void ConverterDialog::OpenChosenMedia(const std::string&) {}
bool ConverterDialog::MeasureDuration(const char*, MediaTime&) { return false; }
bool ConverterDialog::OpenPreview(const char*) { return false; }
bool ConverterDialog::ClosePreview() { return true; }
void ConverterDialog::EnableMediaControls(bool) {}
void ConverterDialog::OnTrackbarReleased() {}
bool ConverterDialog::SeekToSlider(int) { return false; }
void ConverterDialog::RefreshPosition() {}
void ConverterDialog::OnPlay() {}
void ConverterDialog::OnPause() {}
void ConverterDialog::OnStop() {}
void ConverterDialog::OnStartTime() {}
void ConverterDialog::OnEndTime() {}
void ConverterDialog::OnCloseMedia() {}

}  // namespace veltrano
