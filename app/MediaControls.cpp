#include "app/ConverterDialog.h"

#include <QLabel>
#include <QPushButton>

#include "app/ThumbSlider.h"

namespace veltrano {

void ConverterDialog::EnableMediaControls(bool enable) {
    QWidget* controls[] = {m_btnConvert, m_sldPosition,  m_btnPlay,      m_btnPause, m_btnStop,
                           m_btnStartTime, m_btnEndTime, m_stcStartTime, m_stcEndTime};
    for (QWidget* w : controls) w->setEnabled(enable);
}

}  // namespace veltrano
