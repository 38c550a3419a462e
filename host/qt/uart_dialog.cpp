#include "host/qt/uart_dialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

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

    auto* grid = new QGridLayout(group);
    grid->addWidget(connector, 0, 0);
    grid->addWidget(new QLabel("COM"), 0, 1);
    grid->addWidget(combo_, 0, 2);
    grid->addWidget(status_, 1, 0, 1, 3);
    grid->addWidget(device_, 2, 0, 1, 3);

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
    show_state();
    setFixedSize(sizeHint().expandedTo(QSize(315, 150)));
}

void UartDialog::show_state()
{
    const bool open = link_.is_open();
    status_->setText(open ? QString::asprintf("COM%d port open", link_.port_number()) : "COM port closed");
    device_->setText(open ? QString::fromStdString(link_.open_device()) : QString());
    toggle_->setText(open ? "Close Port" : "Open Port");
    combo_->setEnabled(!open);
}

void UartDialog::toggle()
{
    if (link_.is_open()) {
        link_.close();
    } else {
        link_.set_port_number(combo_->currentIndex() + 1);
        if (link_.open() == SerialLink::OPEN_OK)
            link_.set_read_size(1);
    }
    show_state();
}

}  // namespace norvane
