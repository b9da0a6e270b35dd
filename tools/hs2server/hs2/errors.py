"""Error statuses worded as the posed server words them."""

from .catalog import HiveError


class Errors:
    def __init__(self, identity):
        self.spark = identity.is_spark

    def parse(self, line, col, near):
        if self.spark:
            return HiveError(
                "Error running query: org.apache.spark.sql.catalyst.parser.ParseException: \n"
                "mismatched input %s expecting <EOF>(line %d, pos %d)" % (near[0], line, col))
        return HiveError(
            "Error while compiling statement: FAILED: ParseException line %d:%d cannot "
            "recognize input near %s" % (line, col, " ".join(near)), "42000", 40000)

    def semantic(self, code, state, hive_text, spark_text):
        if self.spark:
            return HiveError("Error running query: org.apache.spark.sql.AnalysisException: "
                             + spark_text)
        return HiveError("Error while compiling statement: FAILED: SemanticException "
                         "[Error %d]: %s" % (code, hive_text), state, code)

    def table_not_found(self, name, line=None, col=None):
        where = "Line %d:%d " % (line, col) if line is not None else ""
        pos = "; line %d pos %d" % (line, col) if line is not None else ""
        return self.semantic(10001, "42S02", "%sTable not found '%s'" % (where, name),
                             "Table or view not found: %s%s;" % (name, pos))

    def database_not_found(self, name):
        return self.semantic(10072, "42000", "Database does not exist: %s" % name,
                             "Database '%s' not found;" % name)

    def column_not_found(self, name, line, col, candidates):
        return self.semantic(
            10004, "42000",
            "Line %d:%d Invalid table alias or column reference '%s': (possible column names "
            "are: %s)" % (line, col, name, ", ".join(candidates)),
            "cannot resolve '`%s`' given input columns: [%s]; line %d pos %d;"
            % (name, ", ".join(candidates), line, col))

    def function_not_found(self, name, line, col):
        return self.semantic(
            10011, "42000", "Line %d:%d Invalid function '%s'" % (line, col, name),
            "Undefined function: '%s'. This function is neither a registered temporary "
            "function nor a permanent function registered in the database 'default'.; "
            "line %d pos %d" % (name, line, col))

    def other(self, text):
        return self.semantic(40000, "42000", text, text)

    def execution(self, text):
        if self.spark:
            return HiveError("Error running query: " + text)
        return HiveError("Error while processing statement: FAILED: Execution Error, return "
                         "code 1 from org.apache.hadoop.hive.ql.exec.DDLTask. " + text,
                         "08S01", 1)

    def already_exists(self, name):
        if self.spark:
            return HiveError("Error running query: org.apache.spark.sql.catalyst.analysis."
                             "TableAlreadyExistsException: Table or view '%s' already exists;"
                             % name)
        return self.execution("AlreadyExistsException(message:Table %s already exists)" % name)
