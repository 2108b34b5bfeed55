// The make-up of the main window as data, so that every backend builds the same window: the
// caption, the size, the font, and each control's kind, caption, place and size in twips.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "window/window_system.h"

namespace splitter {

// A backend turns twips into logical pixels (which the window system scales on HiDPI screens).
inline constexpr int kTwipsPerPixel = 15;
// Nearest whole pixel.
constexpr int TwipsToPixels(int twips) {
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

inline constexpr std::string_view kFormCaption = "Tarvo's File Splitter...";
inline constexpr int kFormWidthTwips = 6000;   // client area, 400 pixels
inline constexpr int kFormHeightTwips = 3000;  // 200 pixels

inline constexpr std::string_view kFontName = "Tahoma";
inline constexpr double kFontPoints = 8.25;
inline constexpr int kBoldWeight = 700;

// The face of the buttons: light grey.
inline constexpr int kButtonFaceRed = 224;
inline constexpr int kButtonFaceGreen = 224;
inline constexpr int kButtonFaceBlue = 224;

enum class ControlKind { kButton, kTextBox, kLabel };

struct ControlLayout {
    Control id;
    std::string_view name;
    ControlKind kind;
    std::string_view caption;      // initial caption or text; '&' marks a button's access key
    int left, top, width, height;  // twips, in the client area
    bool bold;
};

// In tab order. Only the buttons and text boxes take the focus; no button is the default or
// the cancel button. Labels grow to fit a longer caption, from their left and top.
inline constexpr std::array<ControlLayout, 11> kFormLayout = {{
    {Control::cmdSelectFile, "cmdSelectFile", ControlKind::kButton, "&Browse", 4635, 795, 1005, 330,
     false},
    {Control::txtNoOfParts, "txtNoOfParts", ControlKind::kTextBox, "", 1650, 1340, 510, 330, false},
    {Control::txtSelectedFile, "txtSelectedFile", ControlKind::kTextBox, "", 1650, 795, 2895, 330,
     false},
    {Control::cmdSplit, "cmdSplit", ControlKind::kButton, "&Split", 540, 2295, 1755, 375, false},
    {Control::cmdExit, "cmdExit", ControlKind::kButton, "E&xit", 3945, 2295, 1755, 375, false},
    {Control::lblSelectFileText, "lblSelectFileText", ControlKind::kLabel, "Select File:", 540, 855,
     900, 255, true},
    {Control::lblStatusText, "lblStatusText", ControlKind::kLabel, "Status:", 540, 1885, 600, 195,
     true},
    {Control::lblStatus, "lblStatus", ControlKind::kLabel, "Ready...", 1665, 1885, 645, 195, false},
    {Control::lblNoOfParts, "lblNoOfParts", ControlKind::kLabel, "No Of Parts:", 540, 1395, 975,
     195, true},
    {Control::lblFileSize, "lblFileSize", ControlKind::kLabel, "File Size:", 2475, 1395, 720, 195,
     true},
    {Control::lblbytes, "lblbytes", ControlKind::kLabel, "-------------", 3285, 1395, 780, 195,
     false},
}};

// The path box is read-only (its text can still be selected and copied): the split uses the file
// chosen in the dialog, so an editable box could show one file while another is split.
constexpr bool IsReadOnly(Control control) {
    return control == Control::txtSelectedFile;
}

// The labels that name the text boxes, for screen readers: {label, box}.
inline constexpr std::array<std::array<Control, 2>, 2> kBoxLabels{{
    {Control::lblSelectFileText, Control::txtSelectedFile},
    {Control::lblNoOfParts, Control::txtNoOfParts},
}};

// The labels that name the captions a run or Browse changes, for screen readers:
// {label, caption}. "Status:" names "Done !".
inline constexpr std::array<std::array<Control, 2>, 2> kCaptionLabels{{
    {Control::lblStatusText, Control::lblStatus},
    {Control::lblFileSize, Control::lblbytes},
}};

// A backend may index the table by a control's id.
constexpr bool LayoutIndexedById() {
    for (std::size_t i = 0; i < kFormLayout.size(); ++i) {
        if (static_cast<std::size_t>(kFormLayout[i].id) != i) return false;
    }
    return true;
}
static_assert(LayoutIndexedById());

}  // namespace splitter
