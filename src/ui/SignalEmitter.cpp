#include "SignalEmitter.h"

SignalEmitter::SignalEmitter()
    : QObject(nullptr)
{
}

SignalEmitter::~SignalEmitter() = default;

SignalEmitter* SignalEmitter::instance()
{
    static SignalEmitter emitter;
    return &emitter;
}
