// The main window's controls as its dialog template lists them: id, kind, rectangle in dialog
// units, template text and the pane that shows them.
#pragma once

#include <array>

enum class CtrlKind {
  TitleButton,  // CQmvButton with skin bitmaps
  Picture,      // CXStatic in picture mode
  Label,        // CXStatic in text mode
  Selector,     // CQmvSel
  GroupBox,
  Edit,         // single-line edit, auto-scroll
  NumberEdit,   // edit that takes digits only
  RoundButton,  // CRoundButton
  Timeline,     // CQmvSld
  List,         // report list view, owner-drawn
  Progress,
  Slider,
};

enum class Pane { Always, Montage, Merge, Export };

struct CtrlDef {
  int id;
  CtrlKind kind;
  int x, y, w, h;  // dialog units
  const char* text;
  Pane pane;
};

// Size of the main window in dialog units.
constexpr int kDialogWidthDlu = 320;
constexpr int kDialogHeightDlu = 211;

inline constexpr std::array kMainControls = {
    CtrlDef{1000, CtrlKind::TitleButton, 306, 3, 12, 11, "Button1", Pane::Always},
    CtrlDef{1001, CtrlKind::TitleButton, 293, 3, 12, 11, "Button1", Pane::Always},
    CtrlDef{1008, CtrlKind::TitleButton, 3, 3, 12, 11, "Sys", Pane::Always},
    CtrlDef{1018, CtrlKind::Picture, 4, 16, 83, 31, "", Pane::Always},
    CtrlDef{1016, CtrlKind::Selector, 7, 48, 81, 61, "", Pane::Always},
    CtrlDef{1007, CtrlKind::Picture, 7, 113, 81, 54, "", Pane::Always},
    CtrlDef{-1, CtrlKind::GroupBox, 91, 14, 222, 153, "", Pane::Always},
    CtrlDef{1006, CtrlKind::Label, 94, 21, 91, 14, "Video Montage", Pane::Always},
    CtrlDef{1040, CtrlKind::Label, 7, 170, 42, 11, "Message", Pane::Always},
    CtrlDef{1041, CtrlKind::Label, 48, 170, 265, 11, "", Pane::Always},
    CtrlDef{1017, CtrlKind::Picture, 4, 182, 312, 25, "", Pane::Always},
    // Video Montage
    CtrlDef{1024, CtrlKind::Label, 95, 40, 44, 9, "File Length:", Pane::Montage},
    CtrlDef{1028, CtrlKind::Label, 139, 40, 102, 9, "2367788 ms ", Pane::Montage},
    CtrlDef{1025, CtrlKind::Edit, 187, 23, 121, 12, "", Pane::Montage},
    CtrlDef{1026, CtrlKind::RoundButton, 248, 38, 32, 12, "Browse", Pane::Montage},
    CtrlDef{1027, CtrlKind::RoundButton, 283, 38, 21, 12, "Open", Pane::Montage},
    CtrlDef{1002, CtrlKind::Timeline, 96, 52, 210, 15, "", Pane::Montage},
    CtrlDef{1013, CtrlKind::RoundButton, 97, 70, 40, 12, "Add Mark", Pane::Montage},
    CtrlDef{1011, CtrlKind::RoundButton, 140, 70, 30, 12, "Erase", Pane::Montage},
    CtrlDef{1003, CtrlKind::RoundButton, 173, 70, 30, 12, "<-", Pane::Montage},
    CtrlDef{1004, CtrlKind::RoundButton, 206, 70, 30, 12, "->", Pane::Montage},
    CtrlDef{1014, CtrlKind::NumberEdit, 240, 70, 43, 12, "", Pane::Montage},
    CtrlDef{1015, CtrlKind::RoundButton, 286, 70, 20, 12, "Goto", Pane::Montage},
    CtrlDef{1005, CtrlKind::List, 96, 85, 211, 64, "List1", Pane::Montage},
    CtrlDef{1019, CtrlKind::NumberEdit, 96, 152, 39, 12, "", Pane::Montage},
    CtrlDef{1020, CtrlKind::RoundButton, 138, 152, 42, 12, "Update Cell", Pane::Montage},
    CtrlDef{1021, CtrlKind::RoundButton, 183, 152, 39, 12, "Montage", Pane::Montage},
    CtrlDef{1022, CtrlKind::Progress, 223, 154, 57, 8, "", Pane::Montage},
    CtrlDef{1023, CtrlKind::Label, 280, 153, 29, 9, "%100", Pane::Montage},
    // Clip Merge
    CtrlDef{1038, CtrlKind::Label, 95, 39, 51, 9, "Total Length:", Pane::Merge},
    CtrlDef{1039, CtrlKind::Label, 147, 39, 48, 9, "00:00:00", Pane::Merge},
    CtrlDef{1029, CtrlKind::RoundButton, 199, 37, 40, 12, "Add Clip", Pane::Merge},
    CtrlDef{1030, CtrlKind::RoundButton, 241, 37, 39, 12, "Delete Clip", Pane::Merge},
    CtrlDef{1031, CtrlKind::RoundButton, 282, 37, 25, 12, "Play", Pane::Merge},
    CtrlDef{1035, CtrlKind::List, 95, 51, 212, 97, "List2", Pane::Merge},
    CtrlDef{1032, CtrlKind::NumberEdit, 96, 152, 39, 12, "", Pane::Merge},
    CtrlDef{1033, CtrlKind::RoundButton, 137, 152, 48, 12, "Change Seq#", Pane::Merge},
    CtrlDef{1034, CtrlKind::RoundButton, 187, 152, 36, 12, "Merge", Pane::Merge},
    CtrlDef{1036, CtrlKind::Progress, 224, 154, 52, 8, "", Pane::Merge},
    CtrlDef{1037, CtrlKind::Label, 277, 153, 29, 9, "", Pane::Merge},
    // Video Export
    CtrlDef{1042, CtrlKind::Edit, 95, 39, 176, 13, "", Pane::Export},
    CtrlDef{1043, CtrlKind::RoundButton, 273, 39, 33, 11, "Browse", Pane::Export},
    CtrlDef{1044, CtrlKind::Selector, 95, 54, 212, 81, "", Pane::Export},
    CtrlDef{1045, CtrlKind::Slider, 95, 137, 168, 12, "Slider1", Pane::Export},
    CtrlDef{1046, CtrlKind::Label, 270, 138, 36, 10, "0:0:0", Pane::Export},
    CtrlDef{1047, CtrlKind::RoundButton, 96, 152, 47, 11, "Start", Pane::Export},
    CtrlDef{1048, CtrlKind::RoundButton, 148, 152, 47, 11, "Stop", Pane::Export},
    CtrlDef{1049, CtrlKind::Progress, 199, 154, 81, 8, "", Pane::Export},
    CtrlDef{1050, CtrlKind::Label, 283, 152, 23, 9, "%100", Pane::Export},
};
