#include "host/qt/uart_dialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "host/core/serial_link.h"

namespace norvane {

UartDialog::UartDialog(SerialLink& link, QWidget* parent) : QDialog(parent), link_(link)
{
    setWindowTitle("UART Setup");
    auto* group = new QGroupBox("Port Settings");
    auto* connector = new QLabel;
    connector->setPixmap(QPixmap(":/host/connector.png"));
    connector->setFixedSize(46, 19);
    combo_ = new QComboBox;
    for (int n = 1; n <= SerialLink::MAX_PORT_NUMBER; ++n)
        combo_->addItem(QString::asprintf("%d", n));
    combo_->setCurrentIndex(link_.port_number() - 1);  // -1: none chosen yet
    status_ = new QLabel("COM port closed");
    device_ = new QLabel;
    device_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    devices_ = new QComboBox;
    devices_->setEditable(true);
    devices_->setInsertPolicy(QComboBox::NoInsert);
    devices_->setMinimumContentsLength(16);
    for (const std::string& path : list_serial_devices())
        devices_->addItem(QString::fromStdString(path));
    devices_->setToolTip("The device this COM number means here; pick one or type a path (a pseudo-terminal)");
    reason_ = new QLabel;
    reason_->setWordWrap(true);
    reason_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* grid = new QGridLayout(group);
    grid->addWidget(connector, 0, 0);
    grid->addWidget(new QLabel("COM"), 0, 1);
    grid->addWidget(combo_, 0, 2);
    grid->addWidget(new QLabel("Device"), 1, 0, 1, 2);
    grid->addWidget(devices_, 1, 2);
    grid->addWidget(status_, 2, 0, 1, 3);
    grid->addWidget(device_, 3, 0, 1, 3);
    grid->addWidget(reason_, 4, 0, 1, 3);

    toggle_ = new QPushButton("Open Port");
    exit_ = new QPushButton("Exit");
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(toggle_);
    buttons->addWidget(exit_);
    buttons->addStretch();

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);

    connect(toggle_, &QPushButton::clicked, this, &UartDialog::toggle);
    connect(exit_, &QPushButton::clicked, this, [this] { done(0); });
    connect(combo_, &QComboBox::currentIndexChanged, this, [this] { show_device(); });
    show_device();
    show_state();
    // The width the dialog has without a reason; a reason wraps within it.
    reason_->hide();
    layout->activate();
    width_ = std::max(315, sizeHint().width());
    fit();
}

void UartDialog::fit()
{
    reason_->setVisible(!reason_->text().isEmpty());
    device_->setVisible(!device_->text().isEmpty());
    // The group's grid and size first: their cached sizes still count the
    // reason as it was.
    reason_->parentWidget()->layout()->invalidate();
    reason_->parentWidget()->updateGeometry();
    QLayout* layout = this->layout();
    layout->invalidate();
    layout->activate();
    // As wide as without a reason (wider only for a word that cannot wrap),
    // and as tall as the reason's lines need at that width.
    const int width = std::max(width_, layout->totalMinimumSize().width());
    const int height = std::max({150, layout->totalSizeHint().height(),
                                 layout->hasHeightForWidth() ? layout->totalHeightForWidth(width) : 0});
    setFixedSize(width, height);
}

void UartDialog::show_device()
{
    const int n = combo_->currentIndex() + 1;
    devices_->setEnabled(n >= 1 && !link_.is_open());
    devices_->setEditText(n >= 1 ? QString::fromStdString(link_.device_path(n)) : QString());
}

void UartDialog::show_state()
{
    const bool open = link_.is_open();
    status_->setText(open ? QString::asprintf("COM%d port open", link_.port_number()) : "COM port closed");
    device_->setText(open ? QString::fromStdString(link_.open_device()) : QString());
    toggle_->setText(open ? "Close Port" : "Open Port");
    combo_->setEnabled(!open);
    devices_->setEnabled(!open && combo_->currentIndex() >= 0);
}

void UartDialog::toggle()
{
    if (link_.is_open()) {
        link_.close();
    } else {
        const int n = combo_->currentIndex() + 1;
        link_.set_port_number(n);
        if (n >= 1) {
            // A device equal to the number's own is not kept as a choice.
            const std::string device = devices_->currentText().trimmed().toStdString();
            link_.set_device_path(n, device == SerialLink::default_device_path(n) ? std::string() : device);
        }
        if (link_.open() == SerialLink::OPEN_OK)
            link_.set_read_size(1);
    }
    reason_->setText(link_.is_open() || link_.open_error().empty()
                         ? QString()
                         : "Cannot open: " + QString::fromStdString(link_.open_error()));
    show_state();
    fit();
}

}  // namespace norvane
