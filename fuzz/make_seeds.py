#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into fuzz/corpus/<target>/.

The inputs of the FuzzedDataProvider targets are laid out the way the provider reads them:
strings from the front (a backslash ends a string, two stand for one), numbers and booleans
from the back. Run it again after changing a target's input layout.
"""
import hashlib
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


class Provider:
    """Builds an input for FuzzedDataProvider: front bytes, and back bytes read last-first."""

    def __init__(self):
        self.front = b""
        self.back = b""  # in the order the provider consumes them

    def string(self, text):
        data = text.encode("latin-1") if isinstance(text, str) else text
        self.front += data.replace(b"\\", b"\\\\") + b"\\ "
        return self

    def raw(self, data):
        self.front += data.encode("latin-1") if isinstance(data, str) else data
        return self

    def byte(self, value):
        self.back += bytes([value & 0xFF])
        return self

    def boolean(self, value):
        return self.byte(1 if value else 0)

    def int32(self, value):
        # ConsumeIntegral reads the last byte as the lowest one.
        self.back += struct.pack("<i", value)
        return self

    def bytes(self):
        return self.front + self.back[::-1]


def write(target, inputs):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for data in inputs:
        if isinstance(data, str):
            data = data.encode("latin-1")
        name = hashlib.sha1(data).hexdigest()
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)


def settings():
    example = open(os.path.join(HERE, "..", "examples", "dbupgrade.ini"), "rb").read()
    contents = [
        example,
        b"[General]\r\nDebugMode=5\r\n[Database]\r\nMain=C:\\Data\\main.gdb\r\n"
        b"Archive = 'D:\\Data\\archive.gdb'\r\n[Common]\r\nSetupStatus=Continue\r\n",
        b"\xef\xbb\xbf[general]\ndebugmode = $0A\n[database]\nA=\"/x.fdb\"\nA=/second.fdb\n",
        b"[Database]\nkey without value\n;comment=1\n[Database]\nlater=ignored",
        b"[Common\nSetupStatus\n[ Common ]\n  SetupStatus  =  Cancel  \r",
        b"",
    ]
    names = [("Common", "SetupStatus", "Continue", "Database", "Main"),
             ("General", "DebugMode", "0x7FFFFFFF", "general", "DEBUGMODE"),
             ("Database", "New", "/data/\xe1\xe0\xe7\xe0.fdb", "Database", "A"),
             ("New Section", "k", "v = w", "Common", "SetupStatus")]
    inputs = []
    for i, content in enumerate(contents):
        section, key, value, other_section, other_key = names[i % len(names)]
        p = Provider().int32([5, -1, 2147483647, -2147483648, 10, 0][i])
        for text in (section, key, value, other_section, other_key):
            p.string(text)
        inputs.append(p.raw(content).bytes())
    write("fuzz_settings", inputs)


def script_reader():
    example = open(os.path.join(HERE, "..", "examples", "dbupgrade.sql"), "rb").read()
    write("fuzz_script_reader", [
        example,
        example.replace(b"\n", b"\r\n"),
        b"VAR @ver = SELECT MAX(VERSION) FROM DB_VERSION\n\nUPDATE DB_VERSION SET VERSION = @ver + 1",
        b"ALTER TABLE A\r\n  ADD B INTEGER\r\n\t\r\n\r\n \x01\x1f\r\nSELECT 1\rFROM X\r",
        b"first\x1asecond\n\nthird",
        b"line\x00with\x00nul\n\x00\x00\nnext",
        b"\n\n\n",
        b"\xcf\xd0\xc8\xc2\xc5\xd2 \xc0\x80\xff\r\n\r\n\xe2\x82",
        # Blank lines inside a trigger body, a column list, a literal and a comment.
        b"CREATE TRIGGER T_BI FOR T AS\nBEGIN\n  NEW.A = 1;\n\n  NEW.B = 2;\nEND\n\n"
        b"CREATE TABLE T (\n  A INT,\n\n  B INT)\n\nINSERT INTO T VALUES ('a\n\nb')\n\n"
        b"/* one\n\ntwo */\n\n-- only a comment\n\nEXECUTE BLOCK AS DECLARE PROCEDURE S AS BEGIN "
        b"END\n\nBEGIN EXECUTE PROCEDURE S; END\n",
        b"UPDATE T SET S = 'it''s\n\nUPDATE T SET S = q'{x'\n\n}'\n\n(SELECT 1 FROM T)\n",
    ])


def script_check():
    example = open(os.path.join(HERE, "..", "examples", "dbupgrade.sql"), "rb").read()
    write("fuzz_script_check", [
        example,
        b"/* only a comment */\n\nCOMMIT\n\nSET TERM ^ ;\n\nUPDATE T SET A = 1;\nUPDATE T SET B = 2\n",
        b"CREATE OR ALTER PROCEDURE P (A INT) RETURNS (B INT) AS\nDECLARE VARIABLE X INT;\n"
        b"BEGIN\n  X = CASE WHEN A = 1 THEN 2 ELSE 3 END;\n  B = X;\n  SUSPEND;\nEND;\nDROP TABLE T\n",
        b"EXECUTE BLOCK AS BEGIN IF (1 = 1) THEN BEGIN EXIT; END END",
        b"VAR x = 1\n\nVAR @ = 1\n\nVAR @a\n\nVAR @b =\n\nVAR\t@c = 1\n\nVAR @d = SELECT\r\n MAX(ID) FROM T",
        b"VAR @d = SELECT CURRENT_DATE FROM RDB$DATABASE\n\nVAR @D = SELECT CAST(1.5 AS NUMERIC(9,2)) AS N FROM T\n\n"
        b"INSERT INTO T VALUES ('@d', 'a@example.com', @d;) -- @x\n/* @y */",
        b"SELECT q'{it's}', '--', ';', \"@q\" FROM T\n\nSELECT 'unterminated\n\n/* unterminated",
        b"line\x00with\x00nul\n\x00\x00\nnext\x1aafter",
        b"RECREATE PACKAGE BODY PK AS\nBEGIN\n  PROCEDURE P1 AS\n  BEGIN\n\n    EXIT;\n  END\nEND\n\n"
        b"UPDATE T SET A = 1\n\nWHERE B = 2\n\nVAR @n = SELECT LIST(S) FROM T\n\n"
        b"UPDATE T SET S = '@n'\n\nCREATE TABLE U (A INT\n\n\x1a\nDELETE FROM T\n",
    ])


def script_variables():
    inputs = []
    # Declarations and uses: each step starts with a boolean (true: declare).
    p = Provider()
    p.boolean(True).string("VAR @v = 10").boolean(False).byte(2).string("")
    p.boolean(False).string("UPDATE T SET A = @v WHERE B = @undeclared;").byte(0).byte(3)
    p.string(" tail").string("head ")
    inputs.append(p.bytes())
    p = Provider()
    p.boolean(True).string("@s = SELECT NAME FROM T").boolean(True).byte(2).string("'O''Brien'")
    p.boolean(True).string("@s = SELECT NAME FROM T WHERE 1=0").boolean(True).byte(1).string("")
    p.boolean(False).string("SELECT @s, @S, @@s, x@s.y FROM T").byte(0).byte(0)
    inputs.append(p.bytes())
    p = Provider()
    p.boolean(True).string("VAR @\xc8\xec\xff = 1").boolean(False).byte(2).string("")
    p.boolean(True).string("var @\xc8\xcc\xdf = 2").boolean(False).byte(2).string("")
    p.boolean(False).string("@\xe8\xec\xff|@\xc8\xcc\xdf\n@").byte(0).byte(13)
    inputs.append(p.bytes())
    p = Provider()
    for statement in ("VAR x = 1", "VAR @ = 1", "VAR @x 1", "VAR @x =", "VAR\t@x = 1",
                      "VAR @x = SELECT\r\nFROM T", "VAR @a=b=c"):
        p.boolean(True).string(statement).boolean(False).byte(0).string("select value")
    inputs.append(p.bytes())
    write("fuzz_script_variables", inputs)


def param_buffers():
    dpb = "\n".join(["user_name=SYSDBA", "password=masterkey", "lc_ctype=WIN1251",
                     "isc_dpb_sql_dialect=1", "sql_role_name=RDB$ADMIN", "num_buffers=$20",
                     "SWEEP_INTERVAL=-1", "force_write=1", "no_equals_sign", "=value"])
    tpb = "\n".join(["read_committed", "rec_version", "nowait", "isc_tpb_write",
                     "lock_read=CUSTOMER", "LOCK_WRITE=ORDERS", "", "  "])
    write("fuzz_param_buffers", [
        "\x00" + dpb,
        "\x00" + "unknown_name=1\nnum_buffers=1x",
        "\x00" + "user_name=" + "x" * 300,
        "\x01" + tpb,
        "\x01" + "lock_write=\nwait",
        "\x01" + "autocommit\nconsistency",
        "\x02" + "user_name=SYSDBA,password=masterkey,lc_ctype=WIN1251",
        "\x02" + "read,write,,wait",
    ])


def sql_params():
    write("fuzz_sql_params", [
        "SELECT * FROM T WHERE A = :A AND B = ?B AND C = :\"Quoted name\"\r\n",
        "UPDATE T SET S = 'it''s :not a param' /* :nor here */ WHERE ID = :ID\r\n",
        "SELECT \"col:x\" FROM T WHERE X = :X1, Y = :Y_2$;\r\n",
        "SELECT CAST('2024-01-01 10:20:30' AS TIMESTAMP) FROM RDB$DATABASE\r\n",
        "SELECT a::b, `q:uoted` FROM T WHERE c = :'name'\r\n",
        "/* unterminated comment",
        "SELECT 'unterminated",
        "SELECT : FROM T",
        "EXECUTE BLOCK AS DECLARE x INTEGER; BEGIN x = :x; END\r\n",
    ])


def text_format():
    inputs = []
    for text in ("12.5", "-0.25", "1E-5", "1.5E20", "922337203685477.5807", "-922337203685477.5808",
                 "0.00005", "2,5", "  +7  ", "12/31/99", "29/02/2024", "1:02:03.456 PM",
                 "12:00 am", "2024/1/2 13:14", "NAN", "0x1F", "9" * 40, "1e99999"):
        inputs.append(b"\x00" + Provider().boolean("," in text).raw(text).bytes())
    for value in (0.1, 1.0 / 3, 123456789012345.0, 1234567890123456.0, 5e-324, 1.7976931348623157e308,
                  -2.5, 0.5, 1e15, 1e-4, 9.999999999999999e14):
        p = Provider().boolean(False)
        p.back += struct.pack("<d", value)  # raw bytes for ConsumeFloatingPoint
        inputs.append(b"\x01" + p.byte(15).bytes())
    for count in (0, 1, -1, 125000, -2500, 2**63 - 1, -2**63, 2**53, -(2**53) - 1):
        inputs.append(b"\x02" + Provider().boolean(count % 2 == 0).raw(struct.pack("<q", count)).bytes())
    for pattern in ("dddd, d mmmm yyyy hh:nn:ss.zzz AMPM", "'quoted' \"text\" m/d/yy h:m",
                    "yyyy-mm-dd\"T\"hh:mm:ss", "ddd mmm 'unclosed", "hh:mm AMPM ampm z"):
        inputs.append(b"\x03" + Provider().boolean(False).string(pattern).raw(b"\x12\x34\x56\x78\x9a\xbc\xde\xf0").bytes())
    write("fuzz_text_format", inputs)


if __name__ == "__main__":
    settings()
    script_reader()
    script_check()
    script_variables()
    param_buffers()
    sql_params()
    text_format()
    sys.exit(0)
