// "UART Setup": chooses the COM port for the unit's serial port 3 and opens
// or closes it. Beside the COM number it shows (and lets the user change)
// the device that number means on this machine, offering the serial devices
// present; a failed open says why, in full: the dialog grows to show it.
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
    // The device of the chosen COM number: the devices present to pick from,
    // or any path typed in (a pseudo-terminal such as /dev/pts/3).
    QComboBox* device_combo() const { return devices_; }
    QLabel* reason_label() const { return reason_; }

private:
    void toggle();
    void show_state();
    void show_device();
    // Sizes the dialog to show the whole reason, word-wrapped.
    void fit();

    SerialLink& link_;
    QComboBox* combo_;
    QLabel* status_;
    QLabel* device_;
    QComboBox* devices_;
    QLabel* reason_;
    QPushButton* toggle_;
    QPushButton* exit_;
    int width_ = 0;
};

}  // namespace norvane
