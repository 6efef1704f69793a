#include "StoreFixture.h"

StoreFixture::StoreFixture()
    : m_store(m_sandbox.storePath()),
      m_context(ProgramContext::create(false, m_sandbox.programFolder()))
{
    RegistryStore::setCurrent(&m_store);
}

StoreFixture::~StoreFixture()
{
    RegistryStore::setCurrent(nullptr);
}
