#pragma once
// The device models as the device list ("Avisadores" on the page "General") numbers them. The
// numbers are the list's ItemIndex, which the settings store keeps: they never change. Any other
// index (-1: no selection) names no model.
namespace shell {

enum DeviceModel : int { kSentryIII = 0, kWatcher = 1, kGrayRoverII = 2 };

}  // namespace shell
