#pragma once
// The program as a whole: its title, its main window, and the display of
// errors that leave an event handler. One instance exists while the program
// runs; it is the unnamed owner of the main window, so error texts name
// components from the window down ("Main_Form.pFIBRestoreService1: ...").

#include <exception>
#include <string>
#include <utility>

#include "core/Component.h"

class TApplication : public TComponent {
  public:
    TApplication();
    ~TApplication() override;

    // What the platform lists the running program as, and the caption of
    // every error box. It is not added to window captions.
    const std::string& Title() const { return title_; }
    void SetTitle(std::string title);

    // Shows an error that escaped a handler: its text with the full-stop
    // rule, the title as caption, the stop icon. The silent kind is dropped.
    void HandleException(const std::exception& error);
    void HandleUnknownException();

    // Runs a handler; whatever it raises goes to the error display.
    template <class Handler>
    void Guard(Handler&& handler) {
        try {
            std::forward<Handler>(handler)();
        } catch (const std::exception& error) {
            HandleException(error);
        } catch (...) {
            HandleUnknownException();
        }
    }

  private:
    std::string title_;
};

// The application object of the process, or nullptr before it exists and
// after it is gone.
TApplication* Application();

// An error text as the error box shows it: a full stop is appended unless the
// text is empty or already ends in a character whose code is not above ".".
std::string WithFullStop(std::string text);
