// "UART Setup": chooses the COM port for the unit's serial port 3 and opens
// or closes it.
#pragma once
#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

namespace norvane {

class SerialLink;

class UartDialog : public QDialog {
    Q_OBJECT
public:
    UartDialog(SerialLink& link, QWidget* parent = nullptr);

    QComboBox* port_combo() const { return combo_; }
    QLabel* status_label() const { return status_; }
    QLabel* device_label() const { return device_; }
    QPushButton* toggle_button() const { return toggle_; }
    QPushButton* exit_button() const { return exit_; }

private:
    void toggle();
    void show_state();

    SerialLink& link_;
    QComboBox* combo_;
    QLabel* status_;
    QLabel* device_;
    QPushButton* toggle_;
    QPushButton* exit_;
};

}  // namespace norvane
