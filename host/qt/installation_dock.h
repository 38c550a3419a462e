// The installation panel: the simulated boat's wall switches (rockers and
// push buttons, each drawn with its own symbol), tank sliders with the
// percent the unit will read, the 64 output lamps as the power modules last
// applied their commands (unknown while a module is off), module on/off and
// output faults. It reads the
// plant's snapshot with a timer at screen rate and repaints only what
// changed, so the unit's thread is never held up by the panel.
#pragma once
#include <QDockWidget>
#include <functional>
#include <vector>

#include "host/core/scenario.h"
#include "host/installation/installation.h"

class QCheckBox;
class QComboBox;
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

    // For tests: the switch button of SENBm channel c (0-based), a lamp.
    QPushButton* switch_button(int senb, int channel) const { return switches_[senb][channel]; }
    QLabel* lamp(int pwrb, int output) const { return lamps_[pwrb][output]; }
    QSlider* tank_slider(int tank) const { return tank_sliders_[tank]; }
    QComboBox* fault_output() const { return fault_output_; }
    QSpinBox* fault_state() const { return fault_state_; }
    QCheckBox* module_box(int module) const { return module_boxes_[module]; }
    QLabel* tank_label(int tank) const { return tank_labels_[tank]; }

private:
    const installation::plant& plant_;
    act_function act_;
    void act(const plant_verb* verb, int module, int channel, bool on, double amount = 0, int state = 0, int code = 0);
    QPushButton* switches_[installation::SWITCH_MODULES][installation::INPUT_CHANNELS] = {};
    QSlider* tank_sliders_[installation::TANK_COUNT] = {};
    QLabel* tank_labels_[installation::TANK_COUNT] = {};
    int tank_channels_[installation::TANK_COUNT] = {-1, -1, -1, -1};
    QLabel* lamps_[installation::POWER_MODULES][installation::POWER_OUTPUTS] = {};
    QString lamp_tips_[installation::POWER_MODULES][installation::POWER_OUTPUTS];
    std::vector<QCheckBox*> module_boxes_;
    QComboBox* fault_output_ = nullptr;
    QSpinBox* fault_state_ = nullptr;
    QSpinBox* fault_code_ = nullptr;
    QTimer* timer_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    installation::snapshot shown_{};
    bool first_ = true;
};

}  // namespace norvane
