// Temporary: handlers whose subsystems are still being built. Each moves to its
// own folder (source/, convert/) when that subsystem lands; this file then goes.

#include "app/ConverterDialog.h"

namespace veltrano {

class ConversionEngine {};
void ConverterDialog::EngineDeleter::operator()(ConversionEngine* p) const { delete p; }

void ConverterDialog::OnConvert() {}
void ConverterDialog::StopConversion() {}
void ConverterDialog::OnConvertTimer(int) {}
void ConverterDialog::OnGraphNotify() {}

}  // namespace veltrano
