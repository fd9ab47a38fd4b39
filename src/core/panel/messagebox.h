#pragma once

#include <string>

// A modal message box with an icon, one OK button and a title. The program shows real ones;
// the tests record what would have been shown.
class MessageBox {
public:
    enum class Icon { Critical, Warning, Information };

    virtual ~MessageBox() = default;
    virtual void show(Icon icon, const std::string &title, const std::string &text) = 0;
};
