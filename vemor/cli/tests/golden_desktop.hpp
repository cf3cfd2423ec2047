// The small simulated desktop the command's tests run on (named by VEMOR_SIMULATED_DESKTOP):
// a Dock, an editor whose window holds one control of each kind the outputs show, and a
// viewer. Its texts are what the golden outputs print.
#pragma once

#include <string_view>

namespace vemor::cli::testing {

inline constexpr std::string_view kGoldenDesktop = R"json(
{
  "base": "empty",
  "displays": [{"frame": [0, 0, 800, 600], "scale": 2.0}],
  "focused_app": 200,
  "window_list": [
    {"pid": 120, "owner_name": "Dock", "layer": 20, "bounds": [100, 540, 200, 50]},
    {"pid": 200, "owner_name": "Editor", "layer": 0, "window": "editor.window"},
    {"pid": 300, "owner_name": "Viewer", "layer": 0, "window": "viewer.window"}
  ],
  "apps": [
    {"pid": 120, "name": "Dock", "window_entries": false,
     "children": [
       {"role": "AXList", "description": "Dock", "frame": [100, 540, 200, 50], "children": [
         {"role": "AXDockItem", "title": "Editor", "identifier": "dock.editor", "frame": [110, 545, 40, 40], "enabled": true, "actions": ["AXPress"]},
         {"role": "AXDockItem", "title": "Viewer", "identifier": "dock.viewer", "frame": [160, 545, 40, 40], "enabled": true, "actions": ["AXPress"]}
       ]}
     ]},
    {"pid": 200, "name": "Editor",
     "children": [
       {"role": "AXWindow", "subrole": "AXStandardWindow", "title": "Draft", "identifier": "editor.window",
        "frame": [100, 100, 400, 300],
        "attributes": {"AXMinimized": false, "AXModal": false}, "settable": ["AXMinimized", "AXPosition", "AXSize"],
        "actions": [{"name": "AXRaise", "effect": "raise"}],
        "children": [
          {"role": "AXButton", "title": "Save", "identifier": "editor.save", "frame": [110, 110, 60, 24], "enabled": true, "focusable": true,
           "actions": [{"name": "AXPress", "set": {"target": "editor.status", "attribute": "AXValue", "value": "Saved"}}]},
          {"role": "AXButton", "title": "Zero", "identifier": "editor.zero", "frame": [180, 110, 0, 24], "enabled": true},
          {"role": "AXTextField", "description": "Name", "identifier": "editor.name", "value": "Ann", "frame": [110, 150, 200, 22], "enabled": true, "focusable": true, "settable": ["AXValue"]},
          {"role": "AXCheckBox", "title": "Bold", "identifier": "editor.bold", "value": 0, "frame": [110, 180, 80, 20], "enabled": true, "actions": [{"name": "AXPress", "effect": "toggle"}]},
          {"role": "AXSlider", "title": "Zoom", "identifier": "editor.zoom", "value": 0.5, "attributes": {"AXMinValue": 0, "AXMaxValue": 1.25}, "frame": [110, 210, 150, 20], "enabled": true},
          {"role": "AXStaticText", "identifier": "editor.status", "value": "Ready", "frame": [110, 260, 100, 18]},
          {"role": "AXStaticText", "title": "Say \"hi\"", "identifier": "editor.hint"}
        ]}
     ]},
    {"pid": 300, "name": "Viewer",
     "children": [
       {"role": "AXWindow", "subrole": "AXStandardWindow", "title": "Photo", "identifier": "viewer.window", "frame": [520, 100, 200, 200],
        "children": [{"role": "AXImage", "title": "Sunset", "identifier": "viewer.image", "frame": [530, 130, 180, 160], "enabled": true}]}
     ]}
  ]
}
)json";

}  // namespace vemor::cli::testing
