#!/usr/bin/python3
"""A Modbus TCP master for the tests, on Debian's pymodbus: prints what it
reads as one JSON object on standard output.

  modbus_client.py PORT dump UNIT            input registers, discrete inputs, holding registers
  modbus_client.py PORT refusals UNIT        exception codes of writes, far addresses, an unknown unit
  modbus_client.py PORT csv UNIT FILE        every row of the register map's CSV read from the server
"""
import csv
import json
import sys

from pymodbus.client import ModbusTcpClient


def code(response):
    return response.exception_code if response.isError() else 0


def sizes(path):
    rows = list(csv.DictReader(open(path, encoding="utf-8-sig"), delimiter=";"))
    out = {}
    for r in rows:
        words = int(r["rejestry"])
        key = r["funkcja"]
        out[key] = max(out.get(key, 0), int(r["adres"]) + words)
    return rows, out


def main():
    port, what, unit = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
    client = ModbusTcpClient("127.0.0.1", port=port, timeout=3)
    if not client.connect():
        print(json.dumps({"connected": False}))
        return
    result = {"connected": True}
    if what == "dump":
        _, size = sizes(sys.argv[4])
        r = client.read_input_registers(0, size["4"], slave=unit)
        result["input"] = r.registers if not r.isError() else code(r)
        r = client.read_discrete_inputs(0, size["2"], slave=unit)
        result["discrete"] = [int(b) for b in r.bits[: size["2"]]] if not r.isError() else code(r)
        r = client.read_holding_registers(0, size["3"], slave=unit)
        result["holding"] = r.registers if not r.isError() else code(r)
    elif what == "refusals":
        _, size = sizes(sys.argv[4])
        result["write_coil"] = code(client.write_coil(0, True, slave=unit))
        result["write_register"] = code(client.write_register(0, 1, slave=unit))
        result["write_coils"] = code(client.write_coils(0, [True, False], slave=unit))
        result["write_registers"] = code(client.write_registers(0, [1, 2], slave=unit))
        # These two take the unit under its older name in this pymodbus.
        result["mask_write"] = code(client.mask_write_register(0, 0xFFFF, 0, unit=unit))
        result["read_write"] = code(client.readwrite_registers(read_address=0, read_count=1,
                                                               write_address=0, write_registers=[1],
                                                               unit=unit))
        result["past_input"] = code(client.read_input_registers(size["4"] - 1, 2, slave=unit))
        result["past_discrete"] = code(client.read_discrete_inputs(size["2"], 1, slave=unit))
        result["past_holding"] = code(client.read_holding_registers(size["3"], 1, slave=unit))
        result["coils"] = code(client.read_coils(0, 1, slave=unit))
        result["unknown_unit"] = code(client.read_input_registers(0, 1, slave=200))
        # The connection still answers after all of them.
        result["after"] = code(client.read_input_registers(0, 1, slave=unit))
    elif what == "csv":
        rows, _ = sizes(sys.argv[4])
        failed = []
        for r in rows:
            address, function = int(r["adres"]), r["funkcja"]
            words = int(r["rejestry"])
            read = {"2": client.read_discrete_inputs, "3": client.read_holding_registers,
                    "4": client.read_input_registers}[function]
            answer = read(address, words, slave=unit)
            if answer.isError():
                failed.append([r["nazwa"], code(answer)])
        result["rows"] = len(rows)
        result["failed"] = failed
    client.close()
    print(json.dumps(result))


main()
