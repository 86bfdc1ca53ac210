// Wires the device side to the alarm side: the alarm and operation workers take what the device
// manager hands up, and the storage check runs in its alarm loop.
#ifndef VEXA_DEVICE_SIDE_H
#define VEXA_DEVICE_SIDE_H

// Hands the device manager the alarm side (nothing is started).
void connectDeviceSide();
// connectDeviceSide, then the device manager's start, which starts the alarm and operation
// workers first. Plug-in init, and tests that run the device manager alone.
int startDeviceSide();
int stopDeviceSide();

#endif
