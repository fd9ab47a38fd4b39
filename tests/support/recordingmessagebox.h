#pragma once

#include <string>
#include <vector>

#include "core/panel/messagebox.h"

// A message box that shows nothing and keeps every box the program would have shown.
class RecordingMessageBox : public MessageBox {
public:
    struct Shown {
        Icon icon;
        std::string title;
        std::string text;
    };

    std::vector<Shown> shown;  // oldest first

    void show(Icon icon, const std::string &title, const std::string &text) override
    {
        shown.push_back({icon, title, text});
    }
};
