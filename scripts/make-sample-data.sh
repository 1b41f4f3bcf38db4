#!/usr/bin/env bash
# Builds a deterministic sample database on a running private server (see
# fbserver.sh), backs it up through the services API and records what a correct
# restore must contain.
#
# Usage:
#   make-sample-data.sh [--big] [--reuse] [--server DIR] OUTDIR
#
#   DIR defaults to $FB_DIR (set by sourcing DIR/env.sh). --reuse leaves
#   OUTDIR as it is when it holds a sample this same script made.
#   Writes OUTDIR/sample.fbk (or big.fbk with --big: ~1.5 million rows, >100 MB),
#   OUTDIR/<name>.expected and OUTDIR/check.sql. To verify a restored database:
#     fbserver.sh run DIR isql-fb -q -ch UTF8 -user SYSDBA -password fernstone \
#         -i OUTDIR/check.sql localhost:/abs/restored.fdb | diff - OUTDIR/<name>.expected
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
PASSWORD=fernstone
big=0 reuse=0 server=${FB_DIR:-}
while [ $# -gt 0 ]; do
    case $1 in
        --big) big=1; shift ;;
        --reuse) reuse=1; shift ;;
        --server) server=$2; shift 2 ;;
        -*) echo "unknown option $1" >&2; exit 2 ;;
        *) break ;;
    esac
done
if [ $# != 1 ] || [ -z "$server" ]; then
    sed -n '6,14p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
fi
out=$(realpath -m "$1")
server=$(realpath -m "$server")
if [ $big = 1 ]; then
    name=big customers=300000 products=2000 orders=1200000 chunk=200000
else
    name=sample customers=2000 products=200 orders=5000 chunk=5000
fi
# The script's own checksum names the form of what it made.
made_by=$(sha256sum "$0" | cut -d' ' -f1)
if [ $reuse = 1 ] && [ -s "$out/$name.fbk" ] && [ "$(cat "$out/$name.made-by" 2>/dev/null)" = "$made_by" ]; then
    exit 0
fi
"$HERE/fbserver.sh" status "$server" >/dev/null || { echo "no running server in $server" >&2; exit 1; }

mkdir -p "$out"
rm -f "$out/$name.made-by"
db="$server/db/$name-$$.fdb"
fbk="$server/db/$name-$$.fbk"
work=$(mktemp -d)
trap 'rm -rf "$work"; rm -f "$db" "$fbk"' EXIT

fb() { "$HERE/fbserver.sh" run "$server" timeout 1800 "$@"; }
isql() { fb isql-fb -q -b -ch UTF8 -user SYSDBA -password "$PASSWORD" "$@"; }

# Data derive from row numbers only, so every run yields identical content and
# the .expected file is stable. Korean text exercises UTF8 through backup/restore.
cat >"$work/schema.sql" <<EOF
CREATE DATABASE 'localhost:$db' PAGE_SIZE 8192 DEFAULT CHARACTER SET UTF8;
CREATE SEQUENCE GEN_ORDER_ID;
CREATE TABLE CUSTOMERS (
    ID INTEGER NOT NULL PRIMARY KEY,
    NAME VARCHAR(40) NOT NULL,
    CITY VARCHAR(40),
    EMAIL VARCHAR(80),
    BALANCE NUMERIC(15,2) DEFAULT 0,
    CREATED_AT TIMESTAMP);
CREATE TABLE PRODUCTS (
    ID INTEGER NOT NULL PRIMARY KEY,
    TITLE VARCHAR(100) NOT NULL,
    PRICE NUMERIC(12,2) NOT NULL,
    NOTE BLOB SUB_TYPE TEXT);
CREATE TABLE ORDERS (
    ID BIGINT NOT NULL PRIMARY KEY,
    CUSTOMER_ID INTEGER NOT NULL REFERENCES CUSTOMERS(ID),
    PRODUCT_ID INTEGER NOT NULL REFERENCES PRODUCTS(ID),
    QTY SMALLINT NOT NULL CHECK (QTY > 0),
    ORDERED_ON DATE NOT NULL,
    AMOUNT NUMERIC(15,2) NOT NULL,
    MEMO VARCHAR(60));
CREATE VIEW CUSTOMER_TOTALS AS
    SELECT CUSTOMER_ID, COUNT(*) AS N, SUM(AMOUNT) AS TOTAL FROM ORDERS GROUP BY CUSTOMER_ID;
SET TERM ^;
CREATE TRIGGER ORDERS_BI FOR ORDERS BEFORE INSERT AS
BEGIN
    IF (NEW.ID IS NULL) THEN NEW.ID = NEXT VALUE FOR GEN_ORDER_ID;
END^
EXECUTE BLOCK AS
    DECLARE I INTEGER = 1;
BEGIN
    WHILE (I <= $customers) DO BEGIN
        INSERT INTO CUSTOMERS VALUES (:I,
            DECODE(MOD(:I, 7), 0, '김', 1, '이', 2, '박', 3, '최', 4, '정', 5, '강', '조')
              || DECODE(MOD(:I / 7, 6), 0, '철수', 1, '영희', 2, '민준', 3, '서연', 4, '지훈', '하은'),
            DECODE(MOD(:I, 5), 0, '서울특별시', 1, '부산광역시', 2, '대구광역시', 3, '인천광역시', '제주특별자치도'),
            'user' || :I || '@example.kr',
            MOD(:I * 7919, 1000000) / 100.0,
            DATEADD(MOD(:I, 86400) SECOND TO TIMESTAMP '2024-01-01 00:00:00'));
        I = I + 1;
    END
END^
EXECUTE BLOCK AS
    DECLARE I INTEGER = 1;
BEGIN
    WHILE (I <= $products) DO BEGIN
        INSERT INTO PRODUCTS VALUES (:I, '상품 ' || :I || ' 한글 이름',
            1 + MOD(:I * 37, 50000) / 100.0,
            '제품 설명 ' || :I || ': 백업과 복원 시험용 텍스트입니다.');
        I = I + 1;
    END
END^
SET TERM ;^
COMMIT;
EOF

# Orders go in chunks, each its own transaction, to bound the undo log of the
# big variant; IDs come from the trigger so the sequence value is meaningful.
{
    echo "CONNECT 'localhost:$db';"
    echo "SET TERM ^;"
    for ((from = 1; from <= orders; from += chunk)); do
        to=$((from + chunk - 1)); [ $to -le $orders ] || to=$orders
        cat <<EOF
EXECUTE BLOCK AS
    DECLARE I INTEGER = $from;
BEGIN
    WHILE (I <= $to) DO BEGIN
        INSERT INTO ORDERS (CUSTOMER_ID, PRODUCT_ID, QTY, ORDERED_ON, AMOUNT, MEMO) VALUES (
            1 + MOD(:I * 31, $customers), 1 + MOD(:I * 17, $products), 1 + MOD(:I, 9),
            DATEADD(MOD(:I, 1000) DAY TO DATE '2022-01-01'),
            MOD(:I * 104729, 10000000) / 100.0,
            '주문 메모 #' || :I);
        I = I + 1;
    END
END^
COMMIT^
EOF
    done
    echo "SET TERM ;^"
    # Indexes after the load: building them once is far cheaper than per row.
    cat <<EOF
CREATE INDEX IX_CUSTOMERS_NAME ON CUSTOMERS (NAME);
CREATE INDEX IX_CUSTOMERS_CITY ON CUSTOMERS (CITY, NAME);
CREATE INDEX IX_ORDERS_DATE ON ORDERS (ORDERED_ON);
CREATE DESCENDING INDEX IX_ORDERS_AMOUNT ON ORDERS (AMOUNT);
CREATE UNIQUE INDEX UX_CUSTOMERS_EMAIL ON CUSTOMERS (EMAIL);
COMMIT;
EOF
} >"$work/data.sql"

# Sums are cast to the types Firebird 3 gives them: Firebird 4 widens the sum
# of a BIGINT or NUMERIC(18) to INT128, which a 3.0 client (this machine's
# isql among them) cannot read. So one expected output holds for both.
cat >"$out/check.sql" <<'EOF'
SET LIST ON;
SELECT
    (SELECT COUNT(*) FROM CUSTOMERS) AS CUSTOMERS,
    (SELECT COUNT(*) FROM PRODUCTS) AS PRODUCTS,
    (SELECT COUNT(*) FROM ORDERS) AS ORDERS,
    (SELECT CAST(SUM(BALANCE) AS NUMERIC(18,2)) FROM CUSTOMERS) AS BALANCE_SUM,
    (SELECT CAST(SUM(AMOUNT) AS NUMERIC(18,2)) FROM ORDERS) AS AMOUNT_SUM,
    (SELECT CAST(SUM(MOD(HASH(NAME || CITY || EMAIL), 1000003)) AS BIGINT) FROM CUSTOMERS)
        AS CUSTOMER_TEXT_HASH,
    (SELECT CAST(SUM(MOD(HASH(MEMO), 1000003)) AS BIGINT) FROM ORDERS) AS MEMO_HASH,
    (SELECT CAST(SUM(OCTET_LENGTH(NOTE)) AS BIGINT) FROM PRODUCTS) AS NOTE_BYTES,
    (SELECT MAX(CREATED_AT) FROM CUSTOMERS) AS LAST_CREATED,
    (SELECT COUNT(*) FROM CUSTOMERS WHERE CITY = '서울특별시') AS SEOUL_CUSTOMERS,
    (SELECT COUNT(*) FROM RDB$INDICES WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0) AS USER_INDEXES,
    (SELECT COUNT(*) FROM RDB$INDICES WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0
        AND COALESCE(RDB$INDEX_INACTIVE, 0) = 0) AS ACTIVE_INDEXES,
    GEN_ID(GEN_ORDER_ID, 0) AS ORDER_SEQUENCE
FROM RDB$DATABASE;
SELECT FIRST 3 ID, NAME, CITY FROM CUSTOMERS ORDER BY ID;
SELECT N, CAST(TOTAL AS NUMERIC(18,2)) AS TOTAL FROM CUSTOMER_TOTALS WHERE CUSTOMER_ID = 1;
EOF

start=$SECONDS
isql -i "$work/schema.sql"
isql -i "$work/data.sql"
loaded=$SECONDS
isql -i "$out/check.sql" "localhost:$db" >"$out/$name.expected"
# -se makes the server write the backup, as it will when the app restores it.
fb gbak -b -g -se localhost:service_mgr -user SYSDBA -password "$PASSWORD" "$db" "$fbk"
cp "$fbk" "$out/$name.fbk"
chmod 644 "$out/$name.fbk" "$out/$name.expected" "$out/check.sql"
echo "$made_by" >"$out/$name.made-by"
echo "$out/$name.fbk: $(du -h "$out/$name.fbk" | cut -f1)," \
    "load $((loaded - start)) s, backup $((SECONDS - loaded)) s"
