#include "engine.h"
// Placeholder until the engine lands.
namespace sandbox {
struct Engine::Private {};
Engine::Engine(const QString &, bool) : d(std::make_unique<Private>()) {}
Engine::~Engine() = default;
LoginOutcome Engine::login(const QString &, const QString &, const QString &) { return {}; }
BatchResult Engine::execute(Session &, const QString &, const QList<Parameter> &) { return {}; }
void Engine::scriptNextGetUserRow(const QList<Value> &) {}
ResultSet Engine::sqlite(const QString &, const QList<Value> &) { return {}; }
} // namespace sandbox
