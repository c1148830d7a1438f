// The settings the link and the librarian run with. Identifiers come from the
// address-map definition so that the page and the simulated unit agree.

export function createProductSetting(definition = {}) {
    return {
        product: definition.product ?? 'KX-5',
        manufacturerId: (definition.manufacturerId ?? '7D').toUpperCase(),
        modelId: (definition.modelId ?? '004B05').toUpperCase(),
        deviceId: (definition.deviceId ?? '10').toUpperCase(),
        lengthOfAddr: 4,
        lengthOfSize: 4,
        baudrate: 31250 * 10,
        interval: 0,
        timeout: 15,
        communicationLevel: definition.communicationLevel ?? 0,
        // Librarian waits, milliseconds.
        startWait: 0,
        endWait: 5000,
        variableWriteWait: 1500,
        variableClearWait: 370,
        // Impulse-response slots.
        numOfIrData: 11,
        irDataNameLength: 32,
        irDataNameAddr: 0x31000000,
        irDataSizeAddr: 0x31100000,
        irDataFileAddr: 0x31200000,
        irDataCoefAddr: 0x31300000,
        irDataIndexOfs: 0x01000000,
        numOfUserPatch: 2,
    };
}

// Unit command addresses, written as the four 7-bit groups seen on the wire;
// nibble() gives the linear value the link adds offsets to.
export const UnitAddress = Object.freeze({
    currentPatchNumber: 0x00000000,
    communicationLevel: 0x7f000000,
    communicationMode: 0x7f000001,
    runningMode: 0x7f000002,
    communicationRevision: 0x7f000003,
    patchSelect: 0x7f000100,
    patchStored: 0x7f000102,
    patchWrite: 0x7f000104,
    patchTempClear: 0x7f010003,
    irSlotInitialize: 0x7f000200,
    setIrData: 0x7f000300,
    batteryStatus: 0x7f000301,
    currentPatchName: 0x60000000,
});

export const RunningMode = Object.freeze({ play: '01', factoryReset: '04' });
export const CommunicationMode = Object.freeze({ off: '00', on: '01' });
