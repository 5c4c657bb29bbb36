#include "pelmar/imageloader/PelmarRemoteLock.h"

namespace pelmar {

PelmarRemoteLock::PelmarRemoteLock(std::string_view /*name*/, PelmarRemoteLockType type) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, type == PelmarRemoteLockType::Recursive
                                                   ? PTHREAD_MUTEX_RECURSIVE
                                                   : PTHREAD_MUTEX_DEFAULT);
    pthread_mutex_init(&mutex_, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

PelmarRemoteLock::~PelmarRemoteLock() {
    pthread_mutex_destroy(&mutex_);
}

void PelmarRemoteLock::lock() {
    pthread_mutex_lock(&mutex_);
}

void PelmarRemoteLock::unlock() {
    pthread_mutex_unlock(&mutex_);
}

}  // namespace pelmar
