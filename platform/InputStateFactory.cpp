#include "platform/Platform.h"

namespace rp {

namespace {
// Placeholder until the X11 input state lands: the user never counts as away.
class TBusyUserInput : public IInputState {
public:
    QPoint CursorPos() override { return QPoint(++moves, 0); }
    void ReadKeyStates(KeyStates& states) override { states.fill(0); }

private:
    int moves = 0;
};
} // namespace

std::unique_ptr<IInputState> CreateInputState(QString*) {
    return std::make_unique<TBusyUserInput>();
}

} // namespace rp
