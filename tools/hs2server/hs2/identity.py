"""Who the server poses as: Apache Hive 1.2.1, 2.3.9, 3.1.3 or Spark SQL 3.

Each identity fixes everything a client can see of the server's version, and
this module is the one place that decides it: the protocol versions it reads,
GetInfo's answers, version(), how result columns are named, the shape of
DESCRIBE, how FLOAT, TIMESTAMP and DECIMAL values and NULL bitmaps are
written, how operation states are worded, GetTypeInfo's and GetTableTypes'
rows and GetOperationStatus' long polling. Beside each shape stands the
server class it follows, so that it can be checked against that source.
"""

from . import hivetypes as ht
from .hivetypes import WireStyle

# TProtocolVersion values: V1 is 0, so Vn is n - 1.
V6 = 5
V8 = 7
V10 = 9
V11 = 10

# OperationState names as Hive's OperationState enum prints them, by TOperationState.
STATE_NAMES = {0: "INITIALIZED", 1: "RUNNING", 2: "FINISHED", 3: "CANCELED", 4: "CLOSED",
               5: "ERROR", 6: "UNKNOWN", 7: "PENDING", 8: "TIMEDOUT"}

# org.apache.hive.service.cli.Type (1.2) / serde2.thrift.Type (2.x, 3.x):
# GetTypeInfoOperation sends one row per enum constant, in declaration order.
_TYPE_ORDER_3 = [ht.NULL, ht.BOOLEAN, ht.TINYINT, ht.SMALLINT, ht.INT, ht.BIGINT, ht.FLOAT,
                 ht.DOUBLE, ht.STRING, ht.CHAR, ht.VARCHAR, ht.DATE, ht.TIMESTAMP,
                 ht.TIMESTAMPLOCALTZ, ht.INTERVAL_YEAR_MONTH, ht.INTERVAL_DAY_TIME, ht.BINARY,
                 ht.DECIMAL, ht.ARRAY, ht.MAP, ht.STRUCT, ht.UNION, ht.USER_DEFINED]
_TYPE_ORDER = [t for t in _TYPE_ORDER_3 if t != ht.TIMESTAMPLOCALTZ]

# HiveSessionImpl.getInfo: the three names, plus 128 for the three name lengths.
_HIVE_INFO_LENGTHS = {"CLI_MAX_COLUMN_NAME_LEN": 128, "CLI_MAX_SCHEMA_NAME_LEN": 128,
                      "CLI_MAX_TABLE_NAME_LEN": 128}

# GetFunctionsOperation: SPECIFIC_NAME is functionInfo.getClass().getCanonicalName(),
# the class of the registry entry, the same for every function.
_HIVE_FUNCTION_CLASS = "org.apache.hadoop.hive.ql.exec.FunctionInfo"
# SparkGetFunctionsOperation: SPECIFIC_NAME is ExpressionInfo.getClassName.
_SPARK_FUNCTION_CLASSES = {
    "concat": "org.apache.spark.sql.catalyst.expressions.Concat",
    "count": "org.apache.spark.sql.catalyst.expressions.aggregate.Count",
    "current_database": "org.apache.spark.sql.catalyst.expressions.CurrentDatabase",
    "lower": "org.apache.spark.sql.catalyst.expressions.Lower",
    "max": "org.apache.spark.sql.catalyst.expressions.aggregate.Max",
    "min": "org.apache.spark.sql.catalyst.expressions.aggregate.Min",
    "upper": "org.apache.spark.sql.catalyst.expressions.Upper",
    "version": "org.apache.spark.sql.catalyst.expressions.SparkVersion",
}


class Identity:
    def __init__(self, key, **kw):
        self.key = key
        self.server_name = kw["server_name"]
        self.dbms_name = kw["dbms_name"]
        self.version = kw["version"]
        self.version_fn = kw["version_fn"]
        # The newest TProtocolVersion the server's enum knows.
        self.protocol = kw["protocol"]
        self.style = WireStyle(kw["timestamp_style"], kw["pad_decimal"], kw["float_text_rows"],
                               kw["null_bitmap"])
        self.max_fetch_size = kw["max_fetch_size"]
        self.qualify_result_columns = kw["qualify_result_columns"]
        self.describe_header = kw["describe_header"]
        self.view_keys = kw["view_keys"]
        self.protect_mode = kw["protect_mode"]
        self.owner_type = kw["owner_type"]
        self.states_wording = kw["states_wording"]
        self.metadata_states = kw["metadata_states"]
        self.long_poll_step = kw["long_poll_step"]
        self.progress_update = kw["progress_update"]
        self.status_times = kw["status_times"]
        self.get_tables_type_columns = kw["get_tables_type_columns"]
        self.type_info_order = kw["type_info_order"]
        self.table_types = kw["table_types"]
        self.info = dict({"CLI_SERVER_NAME": self.server_name, "CLI_DBMS_NAME": self.dbms_name,
                          "CLI_DBMS_VER": self.version}, **_HIVE_INFO_LENGTHS)
        self.function_class = kw["function_class"]
        self.synthetic_rows = 2000000

    @property
    def is_spark(self):
        return self.key.startswith("spark")

    def pad_decimal_literal(self):
        """Hive 2.2 and later read 1.5 as a DECIMAL literal, older ones as DOUBLE."""
        return self.key != "hive-1.2"

    def state_error(self, expected, found):
        """Operation.assertState's text: expected and found are TOperationState values."""
        found = STATE_NAMES.get(found, str(found))
        if self.states_wording == "single":
            return "Expected state %s, but found %s" % (STATE_NAMES[expected[0]], found)
        return "Expected states: [%s], but found %s" % (
            ", ".join(STATE_NAMES[s] for s in expected), found)


FINISHED, RUNNING = 2, 1

_HIVE = dict(
    server_name="Hive", dbms_name="Apache Hive",
    # SemanticAnalyzer.getColAlias with convertRowSchemaToResultSetSchema under
    # hive.resultset.use.unique.column.names: "t.col" and "*" give "t.col",
    # "col" stays "col", an alias stays the alias.
    qualify_result_columns=True,
    # ColumnBuffer.addValue sends FLOAT as new Double(field.toString()) column-wise
    # only; ColumnValue.floatValue widens the float in row-wise results.
    float_text_rows=False,
    # ColumnBuffer.toTBinary: BitSet bytes, (length() + 8) / 8 of them.
    null_bitmap="hive",
    function_class=lambda name: _HIVE_FUNCTION_CLASS,
)

IDENTITIES = {
    "hive-1.2": lambda: Identity(
        "hive-1.2", version="1.2.1", version_fn=None,
        # TProtocolVersion of Hive 1.2's TCLIService.thrift ends at V8.
        protocol=V8,
        # java.sql.Timestamp text; HiveDecimal.toString without trailing zeros
        # (padding to the column's scale came with HIVE-12063 in 2.1).
        timestamp_style="java", pad_decimal=False, max_fetch_size=None,
        # MetaDataFormatUtils.formatColumnsHeader pads the header cells to 20 and
        # adds an empty line; columns are unpadded (isOutputPadded is off under
        # HiveServer2); getViewInfo writes two keys; "Protect Mode:" still exists.
        describe_header="padded", view_keys=("View Original Text:", "View Expanded Text:"),
        protect_mode=True, owner_type=False,
        # Operation.assertState(OperationState): one expected state; SQLOperation
        # .getResultSetSchema asserts FINISHED.
        states_wording="single", metadata_states=(FINISHED,),
        # CLIService.getOperationStatus waits the whole long polling timeout;
        # TGetOperationStatusResp has no times, no progress.
        long_poll_step=False, progress_update=False, status_times=False,
        # GetTablesOperation's RESULT_SET_SCHEMA: five columns up to REMARKS.
        get_tables_type_columns=False,
        type_info_order=_TYPE_ORDER,
        # GetTableTypesOperation maps every metastore TableType (MANAGED_TABLE,
        # EXTERNAL_TABLE, VIRTUAL_VIEW, INDEX_TABLE) without removing duplicates.
        table_types=("TABLE", "TABLE", "VIEW", "INDEX_TABLE"),
        **_HIVE),
    "hive-2.3": lambda: Identity(
        "hive-2.3", version="2.3.9",
        version_fn="2.3.9 r92dd0159f440ca7863be3232f3a683a510a62b9d",
        protocol=V10,
        timestamp_style="java", pad_decimal=True, max_fetch_size=10000,
        describe_header="padded", view_keys=("View Original Text:", "View Expanded Text:"),
        protect_mode=False, owner_type=False,
        # Operation.assertState(List<OperationState>); getResultSetSchema accepts
        # RUNNING and FINISHED.
        states_wording="list", metadata_states=(RUNNING, FINISHED),
        # CLIService.getOperationStatus: a step function of 500 ms more every 10 s
        # of the operation's age, capped by the long polling timeout;
        # ThriftCLIService.GetOperationStatus always sets a TProgressUpdateResp.
        long_poll_step=True, progress_update=True, status_times=True,
        get_tables_type_columns=True,
        type_info_order=_TYPE_ORDER,
        # TableType gained MATERIALIZED_VIEW in 2.3 next to INDEX_TABLE.
        table_types=("TABLE", "TABLE", "VIEW", "INDEX_TABLE", "MATERIALIZED_VIEW"),
        **_HIVE),
    "hive-3.1": lambda: Identity(
        "hive-3.1", version="3.1.3",
        version_fn="3.1.3 r4df4d75bf1e16fe0af75aad0b4179c34c07fc975",
        protocol=V11,
        timestamp_style="hive3", pad_decimal=True, max_fetch_size=10000,
        # TextMetaDataFormatter.describeTable with TextMetaDataTable rendered
        # unpadded under HiveServer2: an unpadded header row, no empty row after
        # it; MetaDataFormatUtils.getViewInfo writes three keys.
        describe_header="plain",
        view_keys=("View Original Text:", "View Expanded Text:", "View Rewrite Enabled:"),
        protect_mode=False, owner_type=True,
        states_wording="list", metadata_states=(RUNNING, FINISHED),
        long_poll_step=True, progress_update=True, status_times=True,
        get_tables_type_columns=True,
        # serde2.thrift.Type of 3.x has TIMESTAMPLOCALTZ_TYPE.
        type_info_order=_TYPE_ORDER_3,
        # TableType of 3.x: INDEX_TABLE gone, MATERIALIZED_VIEW present.
        table_types=("TABLE", "TABLE", "VIEW", "MATERIALIZED_VIEW"),
        **_HIVE),
    "spark-3": lambda: Identity(
        "spark-3", server_name="Spark SQL", dbms_name="Spark SQL", version="3.1.3",
        version_fn="3.1.3 d1f8a503a26bcfb4e466d9accc5fa241a7933667",
        # Spark's copy of TCLIService.thrift ends at V10.
        protocol=V10,
        timestamp_style="hive3", pad_decimal=True, max_fetch_size=None,
        # SparkExecuteStatementOperation: bare column names; FLOAT as
        # getFloat.toString.toDouble in both row-wise and column-wise results.
        qualify_result_columns=False, float_text_rows=True,
        # RowSetUtils: nulls are BitSet.toByteArray, no bytes without a NULL.
        null_bitmap="spark",
        # DescribeTableCommand writes its own shape (see sqlfront._spark_details).
        describe_header=None, view_keys=(), protect_mode=False, owner_type=False,
        # Spark's copy of Hive 2.3's Operation and CLIService.getOperationStatus,
        # the latter waiting the whole timeout; its ThriftCLIService sets no
        # progress update.
        states_wording="list", metadata_states=(RUNNING, FINISHED),
        long_poll_step=False, progress_update=False, status_times=True,
        get_tables_type_columns=True,
        type_info_order=_TYPE_ORDER,
        # SparkGetTableTypesOperation: CatalogTableType mapped, then .toSet.
        table_types=("TABLE", "VIEW"),
        function_class=lambda name: _SPARK_FUNCTION_CLASSES.get(name, name)),
}


def make(key):
    if key not in IDENTITIES:
        raise ValueError("unknown server identity %r (choose from %s)"
                         % (key, ", ".join(sorted(IDENTITIES))))
    return IDENTITIES[key]()
