#include "toolkit/component.h"

namespace toolkit {

TComponent::TComponent(QObject* owner) : QObject(owner) {}

TComponent::~TComponent() = default;

void TComponent::endLoading()
{
    const bool wasLoading = state_.testFlag(csLoading);
    setStateFlag(csLoading, false);
    if (wasLoading) loaded();
}

void TComponent::setStateFlag(StateFlag flag, bool on) { state_.setFlag(flag, on); }

}  // namespace toolkit
