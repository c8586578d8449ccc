#include "tools/csv/ui/CSVCopyProgress.h"

#include "tools/csv/CSVToolViewModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>

CSVCopyProgress::CSVCopyProgress(CSVToolViewModel* model, QWidget* parent)
    : QWidget(parent), m_model(model), m_label(new QLabel), m_bar(new QProgressBar),
      m_cancel(new QPushButton(QStringLiteral("Cancel")))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 4, 10, 4);
    row->setSpacing(8);
    m_label->setTextFormat(Qt::PlainText);
    row->addWidget(m_label);
    m_bar->setTextVisible(false);
    m_bar->setRange(0, 1000);
    m_bar->setMaximumHeight(8);
    row->addWidget(m_bar, 1);
    m_cancel->setToolTip(QStringLiteral("Stop copying; the clipboard keeps what it held"));
    row->addWidget(m_cancel);
    connect(m_cancel, &QPushButton::clicked, this, [this] { m_model->cancelCopy(); });

    m_delay.setSingleShot(true);
    m_delay.setInterval(1000);
    connect(&m_delay, &QTimer::timeout, this, &CSVCopyProgress::refresh);
    connect(m_model, &CSVToolViewModel::copyStateChanged, this, [this] {
        if (!m_model->isCopying()) {
            m_delay.stop();
            m_running.invalidate();
        } else if (!m_running.isValid()) {
            m_running.start();
            m_delay.start();
        }
        refresh();
    });
    hide();
}

void CSVCopyProgress::refresh()
{
    if (!m_model->isCopying()) {
        hide();
        return;
    }
    const qsizetype total = m_model->copyRowsTotal();
    const qsizetype done = std::min(m_model->copyRowsDone(), total);
    const QLocale locale;
    m_label->setText(QStringLiteral("Copying %1 of %2 rows\u2026").arg(locale.toString(done), locale.toString(total)));
    m_bar->setValue(total > 0 ? int(done * 1000 / total) : 0);
    if (m_running.isValid() && m_running.elapsed() >= m_delay.interval())
        show();
}
