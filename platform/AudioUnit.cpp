// The free functions of the audio-unit layer: the process-wide backend selection and the forwarding of
// each operation to the instance, with null instances answered by a status rather than a crash.

#include "AudioUnit.h"

#include <atomic>
#include <mutex>

#include "AudioUnitInstance.h"
#include "PortAudioUnit.h"

namespace platform {

namespace {

// Until something is selected the microphone is the component, so a program needs no set-up for it.
std::atomic<AudioComponent> selected{0};

std::mutex reasonMutex;
std::string reasonText;

} // namespace

void selectAudioComponent(AudioComponent component) {
    selected.store(component);
}

AudioComponent selectedAudioComponent() {
    return selected.load();
}

AudioComponent AudioComponentFindNext(AudioComponent inComponent, const AudioComponentDescription* inDesc) {
    if (inComponent != 0 || inDesc == 0)
        return 0;
    if (inDesc->componentType != kAudioUnitType_Output ||
        inDesc->componentSubType != kAudioUnitSubType_RemoteIO ||
        inDesc->componentManufacturer != kAudioUnitManufacturer_Apple)
        return 0;
    AudioComponent component = selectedAudioComponent();
    if (component == 0)
        setAudioErrorReason("no audio input is available");
    return component;
}

OSStatus AudioComponentInstanceNew(AudioComponent inComponent, AudioUnit* outInstance) {
    if (outInstance == 0)
        return kAudioUnitErr_InvalidParameter;
    *outInstance = 0;
    if (inComponent == 0 || inComponent->newInstance == 0)
        return kAudioUnitErr_InvalidParameter;
    return inComponent->newInstance(inComponent->context, outInstance);
}

OSStatus AudioComponentInstanceDispose(AudioUnit inUnit) {
    delete inUnit;
    return noErr;
}

OSStatus AudioUnitSetProperty(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, const void* inData, UInt32 inDataSize) {
    if (inUnit == 0)
        return kAudioUnitErr_InvalidParameter;
    return inUnit->setProperty(inID, inScope, inElement, inData, inDataSize);
}

OSStatus AudioUnitInitialize(AudioUnit inUnit) {
    return inUnit == 0 ? kAudioUnitErr_InvalidParameter : inUnit->initialize();
}

OSStatus AudioOutputUnitStart(AudioUnit inUnit) {
    return inUnit == 0 ? kAudioUnitErr_InvalidParameter : inUnit->start();
}

OSStatus AudioOutputUnitStop(AudioUnit inUnit) {
    return inUnit == 0 ? kAudioUnitErr_InvalidParameter : inUnit->stop();
}

OSStatus AudioUnitRender(AudioUnit inUnit, AudioUnitRenderActionFlags* ioActionFlags,
                         const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber, UInt32 inNumberFrames,
                         AudioBufferList* ioData) {
    if (inUnit == 0 || ioData == 0)
        return kAudioUnitErr_InvalidParameter;
    return inUnit->render(ioActionFlags, inTimeStamp, inOutputBusNumber, inNumberFrames, ioData);
}

OSStatus AudioUnitReset(AudioUnit inUnit, AudioUnitScope inScope, AudioUnitElement inElement) {
    return inUnit == 0 ? kAudioUnitErr_InvalidParameter : inUnit->reset(inScope, inElement);
}

bool AudioOutputUnitInputEnded(AudioUnit inUnit) {
    return inUnit != 0 && inUnit->inputEnded();
}

std::string audioErrorReason() {
    std::lock_guard<std::mutex> lock(reasonMutex);
    return reasonText;
}

void setAudioErrorReason(const std::string& reason) {
    std::lock_guard<std::mutex> lock(reasonMutex);
    reasonText = reason;
}

} // namespace platform
