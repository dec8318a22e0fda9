#pragma once
// While the program waits (on the server, on the download) the person at the screen is shown that it
// works. The code that waits knows no window: it marks the wait with a Busy scope, and the window
// foundation installs the indicator (the busy pointer) that the scopes switch on and off. A NotBusy
// scope lifts it while the program waits on the person instead, as a message box asked in the middle
// of a sign-in does, and puts it back afterwards.
//
//     RowSet runStatement(...)
//     {
//         const Busy busy;
//         ...                            // the indicator shows from here to every way out
//     }
//
// The state is per thread, and scopes nest: the innermost open scope decides. The indicator is
// called on the thread whose scope changed the state.

class BusyIndicator {
public:
    virtual ~BusyIndicator() = default;
    // Called when the state turns busy, before the wait begins; must not throw.
    virtual void show() noexcept = 0;
    // Called when it turns idle again; must not throw.
    virtual void hide() noexcept = 0;
};

// Installs the indicator (null: none) and returns the one installed before; not owned.
BusyIndicator *setBusyIndicator(BusyIndicator *indicator);

// Whether this thread is busy now: a Busy scope is open with no NotBusy inside it.
bool isBusy();

class Busy {
public:
    Busy();
    ~Busy();
    Busy(const Busy &) = delete;
    Busy &operator=(const Busy &) = delete;

private:
    bool m_before;
};

class NotBusy {
public:
    NotBusy();
    ~NotBusy();
    NotBusy(const NotBusy &) = delete;
    NotBusy &operator=(const NotBusy &) = delete;

private:
    bool m_before;
};
