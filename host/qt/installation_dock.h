// The installation panel, drawn from what the module kinds describe
// (host/installation/panel_controls.h): the simulated boat's wall switches
// (rockers and push buttons, each drawn with its own symbol), tank sliders
// with the percent the unit will read, the 64 output lamps as the power
// modules last applied their commands (unknown while a module is off),
// output faults, and module on/off. It reads the plant's snapshot with a
// timer at screen rate and repaints only what changed, so the unit's thread
// is never held up by the panel.
#pragma once
#include <QDockWidget>
#include <QString>
#include <functional>
#include <vector>

#include "host/core/scenario.h"
#include "host/installation/installation.h"
#include "host/installation/panel_controls.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QScrollArea;
class QSlider;
class QSpinBox;
class QTimer;

namespace norvane {

class InstallationDock : public QDockWidget {
    Q_OBJECT

public:
    // Shows `plant`; what a person does on the panel goes to `act` as the
    // same action a scenario line gives (the unit session applies it, so a
    // recording sees it too).
    using act_function = std::function<void(const plant_action&)>;
    InstallationDock(const installation::plant& plant, act_function on_act, QWidget* parent = nullptr);

    // One refresh from the plant, as the timer does it.
    void refresh();

    // The panel's contents at full size, with the scroll area's frame and
    // scroll bar: the panel is always this wide (nothing scrolls sideways),
    // and as tall as set_view_height says, scrolling what does not fit.
    QSize content_size() const;
    void set_view_height(int height);

    // The widget of the control of `form` for module m (bus index) and
    // channel c, and a level's reading beside it; nullptr when there is none.
    QWidget* control(installation::control_form form, int m, int c) const;
    QLabel* reading(installation::control_form form, int m, int c) const;

    // For tests: the switch button of SENBm channel c (0-based), a lamp.
    QPushButton* switch_button(int senb, int channel) const;
    QLabel* lamp(int pwrb, int output) const;
    QSlider* tank_slider(int tank) const;
    QLabel* tank_label(int tank) const;
    QComboBox* fault_output() const { return fault_output_; }
    QSpinBox* fault_state() const { return fault_state_; }
    QCheckBox* module_box(int module) const { return module_boxes_[size_t(module)]; }

private:
    // A control as drawn, and what it showed last.
    struct drawn {
        installation::panel_control control;
        QWidget* widget = nullptr;
        QLabel* reading = nullptr;  // a level's text beside it
        installation::panel_reading shown;
        bool module_was_on = true;
    };
    void draw(const installation::panel_control& c, QWidget* box, QGridLayout* grid, QObject* wheel_filter);
    void draw_faults(const installation::panel_control& c, QWidget* box, QGridLayout* grid, QObject* wheel_filter);
    void act(const installation::panel_control& c, bool on, double amount = 0, int state = 0, int code = 0);

    const installation::plant& plant_;
    act_function act_;
    std::vector<drawn> drawn_;
    std::vector<QCheckBox*> module_boxes_;
    QComboBox* fault_output_ = nullptr;
    QSpinBox* fault_state_ = nullptr;
    QSpinBox* fault_code_ = nullptr;
    QTimer* timer_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    bool first_ = true;
};

}  // namespace norvane
