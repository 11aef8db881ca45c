// The dialog side of the wave format choice: the three lists and the custom
// samples-per-second edit.

#include "app/ConverterDialog.h"

#include <QComboBox>
#include <QLineEdit>

namespace veltrano {

void ConverterDialog::OnSamplesPerSecChange() {
    m_nIndexSamplesPerSec = m_cboSamplesPerSec->currentIndex();
    m_editCustomRate->setVisible(m_nIndexSamplesPerSec == kCustomRateRow);
}

bool ConverterDialog::ReadWaveFormatChoice() {
    m_nIndexSamplesPerSec = m_cboSamplesPerSec->currentIndex();
    m_nIndexChannels = m_cboChannels->currentIndex();
    m_nIndexBitsPerSample = m_cboBitsPerSample->currentIndex();
    const std::string text = m_editCustomRate->text().left(127).toStdString();
    m_nCustomSamplesPerSec = ParseCustomSamplesPerSec(text);
    return true;
}

}  // namespace veltrano
