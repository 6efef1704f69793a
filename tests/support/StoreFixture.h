#pragma once

#include "TestSandbox.h"

#include "config/ProgramContext.h"
#include "config/RegistryStore.h"

// A private sandbox with a fresh store made current and the normal-mode
// program context in it, for as long as the object lives.
class StoreFixture {
public:
    StoreFixture();
    ~StoreFixture();
    StoreFixture(const StoreFixture &) = delete;
    StoreFixture &operator=(const StoreFixture &) = delete;

    TestSandbox &sandbox() { return m_sandbox; }
    RegistryStore &store() { return m_store; }
    const ProgramContext &context() const { return m_context; }

private:
    TestSandbox m_sandbox;
    RegistryStore m_store;
    ProgramContext m_context;
};
