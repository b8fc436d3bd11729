-- =============================================================================
-- Warehouse nightly load
--
-- Deploys the procedures of the nightly warehouse load and the objects they
-- share. Run the whole script with sqlcmd or SSMS; every object is created with
-- CREATE OR ALTER, so the script can be re-run safely.
--
--   etl.fn_business_date            business date of a timestamp (06:00 cut-off)
--   etl.usp_log_step                writes one row to etl.load_log
--   etl.usp_load_dim_customer       customer dimension, type 2 history
--   etl.usp_load_dim_product        product dimension, type 1 overwrite
--   etl.usp_load_fact_sales         sales fact, incremental by watermark
--   etl.usp_load_fact_inventory     daily inventory snapshot
--   etl.usp_nightly_load            runs the steps above in order
--
-- Source tables live in the [stage] schema and are truncated and reloaded by
-- the extract jobs before 02:00. The warehouse tables live in [dw].
-- =============================================================================

SET ANSI_NULLS ON;
SET QUOTED_IDENTIFIER ON;
GO

-- -----------------------------------------------------------------------------
-- Shared objects
-- -----------------------------------------------------------------------------
IF SCHEMA_ID(N'etl') IS NULL
    EXEC (N'CREATE SCHEMA etl AUTHORIZATION dbo;');
GO

IF OBJECT_ID(N'etl.load_log', N'U') IS NULL
BEGIN
    CREATE TABLE etl.load_log (
        log_id          BIGINT IDENTITY(1, 1) NOT NULL
            CONSTRAINT pk_load_log PRIMARY KEY,
        batch_id        UNIQUEIDENTIFIER      NOT NULL,
        step_name       VARCHAR(100)          NOT NULL,
        step_status     VARCHAR(20)           NOT NULL,
        rows_inserted   INT                   NULL,
        rows_updated    INT                   NULL,
        rows_expired    INT                   NULL,
        message         NVARCHAR(4000)        NULL,
        logged_at       DATETIME2(3)          NOT NULL
            CONSTRAINT df_load_log_logged_at DEFAULT (SYSUTCDATETIME())
    );

    CREATE INDEX ix_load_log_batch ON etl.load_log (batch_id, logged_at);
END;
GO

IF OBJECT_ID(N'etl.watermark', N'U') IS NULL
BEGIN
    CREATE TABLE etl.watermark (
        source_name     VARCHAR(100)  NOT NULL
            CONSTRAINT pk_watermark PRIMARY KEY,
        high_water_mark DATETIME2(3)  NOT NULL,
        updated_at      DATETIME2(3)  NOT NULL
    );

    INSERT INTO etl.watermark (source_name, high_water_mark, updated_at)
    VALUES ('stage.sales_order_line', '1900-01-01', SYSUTCDATETIME()),
           ('stage.inventory_level',  '1900-01-01', SYSUTCDATETIME());
END;
GO

-- -----------------------------------------------------------------------------
-- etl.fn_business_date
-- Stores trade until 06:00, so a sale at 01:30 belongs to the previous day.
-- -----------------------------------------------------------------------------
CREATE OR ALTER FUNCTION etl.fn_business_date (@event_time DATETIME2(3))
RETURNS DATE
WITH SCHEMABINDING
AS
BEGIN
    RETURN CAST(DATEADD(HOUR, -6, @event_time) AS DATE);
END;
GO

-- -----------------------------------------------------------------------------
-- etl.usp_log_step
-- -----------------------------------------------------------------------------
CREATE OR ALTER PROCEDURE etl.usp_log_step
    @batch_id       UNIQUEIDENTIFIER,
    @step_name      VARCHAR(100),
    @step_status    VARCHAR(20),
    @rows_inserted  INT            = NULL,
    @rows_updated   INT            = NULL,
    @rows_expired   INT            = NULL,
    @message        NVARCHAR(4000) = NULL
AS
BEGIN
    SET NOCOUNT ON;

    INSERT INTO etl.load_log
        (batch_id, step_name, step_status, rows_inserted, rows_updated, rows_expired, message)
    VALUES
        (@batch_id, @step_name, @step_status, @rows_inserted, @rows_updated, @rows_expired, @message);
END;
GO

-- -----------------------------------------------------------------------------
-- etl.usp_load_dim_customer
--
-- Type 2 history on the tracked attributes (segment, region, loyalty tier);
-- type 1 overwrite on the rest (name, email, phone). A change of a tracked
-- attribute closes the current row and opens a new one effective today.
-- -----------------------------------------------------------------------------
CREATE OR ALTER PROCEDURE etl.usp_load_dim_customer
    @batch_id   UNIQUEIDENTIFIER,
    @load_date  DATE
AS
BEGIN
    SET NOCOUNT ON;

    DECLARE @inserted INT = 0;
    DECLARE @updated  INT = 0;
    DECLARE @expired  INT = 0;

    EXEC etl.usp_log_step @batch_id, 'dim_customer', 'STARTED';

    -- Clean and de-duplicate the extract: the CRM sends one row per change, keep the latest.
    SELECT
        src.customer_number,
        LTRIM(RTRIM(src.first_name))                       AS first_name,
        LTRIM(RTRIM(src.last_name))                        AS last_name,
        LOWER(NULLIF(LTRIM(RTRIM(src.email)), ''))         AS email,
        NULLIF(src.phone, '')                              AS phone,
        ISNULL(src.segment_code, 'UNKNOWN')                AS segment_code,
        ISNULL(src.region_code, 'ZZ')                      AS region_code,
        ISNULL(src.loyalty_tier, 'NONE')                   AS loyalty_tier,
        src.modified_at,
        HASHBYTES('SHA2_256', CONCAT(
            ISNULL(src.segment_code, 'UNKNOWN'), '|',
            ISNULL(src.region_code, 'ZZ'), '|',
            ISNULL(src.loyalty_tier, 'NONE')))             AS tracked_hash
    INTO #customer_src
    FROM (
        SELECT
            c.*,
            ROW_NUMBER() OVER (PARTITION BY c.customer_number ORDER BY c.modified_at DESC) AS rn
        FROM stage.crm_customer AS c
        WHERE c.customer_number IS NOT NULL
    ) AS src
    WHERE src.rn = 1;

    CREATE UNIQUE CLUSTERED INDEX cx_customer_src ON #customer_src (customer_number);

    BEGIN TRANSACTION;

    -- Type 1 attributes: overwrite on every version of the customer.
    UPDATE d
    SET d.first_name = s.first_name,
        d.last_name  = s.last_name,
        d.email      = s.email,
        d.phone      = s.phone,
        d.updated_batch_id = @batch_id
    FROM dw.dim_customer AS d
    INNER JOIN #customer_src AS s
        ON s.customer_number = d.customer_number
    WHERE ISNULL(d.first_name, '') <> ISNULL(s.first_name, '')
       OR ISNULL(d.last_name, '')  <> ISNULL(s.last_name, '')
       OR ISNULL(d.email, '')      <> ISNULL(s.email, '')
       OR ISNULL(d.phone, '')      <> ISNULL(s.phone, '');

    SET @updated = @@ROWCOUNT;

    -- Type 2 attributes: close the current row when the tracked hash differs.
    UPDATE d
    SET d.valid_to   = DATEADD(DAY, -1, @load_date),
        d.is_current = 0,
        d.updated_batch_id = @batch_id
    FROM dw.dim_customer AS d
    INNER JOIN #customer_src AS s
        ON s.customer_number = d.customer_number
    WHERE d.is_current = 1
      AND d.tracked_hash <> s.tracked_hash;

    SET @expired = @@ROWCOUNT;

    -- New customers, and new versions of the ones just closed.
    INSERT INTO dw.dim_customer
        (customer_number, first_name, last_name, email, phone,
         segment_code, region_code, loyalty_tier, tracked_hash,
         valid_from, valid_to, is_current, inserted_batch_id, updated_batch_id)
    SELECT
        s.customer_number, s.first_name, s.last_name, s.email, s.phone,
        s.segment_code, s.region_code, s.loyalty_tier, s.tracked_hash,
        @load_date, '9999-12-31', 1, @batch_id, @batch_id
    FROM #customer_src AS s
    WHERE NOT EXISTS (
        SELECT 1
        FROM dw.dim_customer AS d
        WHERE d.customer_number = s.customer_number
          AND d.is_current = 1
    );

    SET @inserted = @@ROWCOUNT;

    COMMIT TRANSACTION;

    EXEC etl.usp_log_step
        @batch_id      = @batch_id,
        @step_name     = 'dim_customer',
        @step_status   = 'SUCCEEDED',
        @rows_inserted = @inserted,
        @rows_updated  = @updated,
        @rows_expired  = @expired;

    DROP TABLE #customer_src;
END;
GO

-- -----------------------------------------------------------------------------
-- etl.usp_load_dim_product
--
-- Type 1: the product dimension keeps only the current description. Products
-- that disappear from the extract are flagged as discontinued, never deleted,
-- because sales facts still point at them.
-- -----------------------------------------------------------------------------
CREATE OR ALTER PROCEDURE etl.usp_load_dim_product
    @batch_id  UNIQUEIDENTIFIER
AS
BEGIN
    SET NOCOUNT ON;

    DECLARE @inserted      INT = 0;
    DECLARE @updated       INT = 0;
    DECLARE @discontinued  INT = 0;

    EXEC etl.usp_log_step @batch_id, 'dim_product', 'STARTED';

    CREATE TABLE #product_src (
        sku               VARCHAR(30)    NOT NULL PRIMARY KEY,
        product_name      NVARCHAR(200)  NOT NULL,
        brand_name        NVARCHAR(100)  NULL,
        category_name     NVARCHAR(100)  NOT NULL,
        subcategory_name  NVARCHAR(100)  NOT NULL,
        unit_of_measure   VARCHAR(10)    NOT NULL,
        pack_size         INT            NOT NULL,
        list_price        DECIMAL(12, 2) NULL,
        standard_cost     DECIMAL(12, 4) NULL,
        is_private_label  BIT            NOT NULL
    );

    INSERT INTO #product_src
        (sku, product_name, brand_name, category_name, subcategory_name,
         unit_of_measure, pack_size, list_price, standard_cost, is_private_label)
    SELECT
        UPPER(LTRIM(RTRIM(p.sku))),
        p.product_name,
        NULLIF(p.brand_name, ''),
        COALESCE(cat.category_name, 'Unclassified'),
        COALESCE(sub.subcategory_name, 'Unclassified'),
        UPPER(ISNULL(p.uom, 'EA')),
        CASE WHEN p.pack_size IS NULL OR p.pack_size < 1 THEN 1 ELSE p.pack_size END,
        TRY_CONVERT(DECIMAL(12, 2), p.list_price_text),
        TRY_CONVERT(DECIMAL(12, 4), p.standard_cost_text),
        CASE WHEN p.brand_name = 'House' THEN 1 ELSE 0 END
    FROM stage.pim_product AS p
    LEFT JOIN stage.pim_category AS cat
        ON cat.category_id = p.category_id
    LEFT JOIN stage.pim_subcategory AS sub
        ON sub.subcategory_id = p.subcategory_id
    WHERE p.sku IS NOT NULL
      AND p.record_status <> 'DRAFT';

    UPDATE d
    SET d.product_name     = s.product_name,
        d.brand_name       = s.brand_name,
        d.category_name    = s.category_name,
        d.subcategory_name = s.subcategory_name,
        d.unit_of_measure  = s.unit_of_measure,
        d.pack_size        = s.pack_size,
        d.list_price       = s.list_price,
        d.standard_cost    = s.standard_cost,
        d.is_private_label = s.is_private_label,
        d.is_discontinued  = 0,
        d.updated_batch_id = @batch_id
    FROM dw.dim_product AS d
    INNER JOIN #product_src AS s
        ON s.sku = d.sku
    WHERE EXISTS (
        SELECT s.product_name, s.brand_name, s.category_name, s.subcategory_name,
               s.unit_of_measure, s.pack_size, s.list_price, s.standard_cost,
               s.is_private_label, CAST(0 AS BIT)
        EXCEPT
        SELECT d.product_name, d.brand_name, d.category_name, d.subcategory_name,
               d.unit_of_measure, d.pack_size, d.list_price, d.standard_cost,
               d.is_private_label, d.is_discontinued
    );

    SET @updated = @@ROWCOUNT;

    INSERT INTO dw.dim_product
        (sku, product_name, brand_name, category_name, subcategory_name,
         unit_of_measure, pack_size, list_price, standard_cost, is_private_label,
         is_discontinued, is_inferred, inserted_batch_id, updated_batch_id)
    SELECT
        s.sku, s.product_name, s.brand_name, s.category_name, s.subcategory_name,
        s.unit_of_measure, s.pack_size, s.list_price, s.standard_cost, s.is_private_label,
        0, 0, @batch_id, @batch_id
    FROM #product_src AS s
    LEFT JOIN dw.dim_product AS d
        ON d.sku = s.sku
    WHERE d.product_key IS NULL;

    SET @inserted = @@ROWCOUNT;

    UPDATE d
    SET d.is_discontinued  = 1,
        d.updated_batch_id = @batch_id
    FROM dw.dim_product AS d
    WHERE d.is_discontinued = 0
      AND d.is_inferred = 0
      AND NOT EXISTS (SELECT 1 FROM #product_src AS s WHERE s.sku = d.sku);

    SET @discontinued = @@ROWCOUNT;

    EXEC etl.usp_log_step
        @batch_id      = @batch_id,
        @step_name     = 'dim_product',
        @step_status   = 'SUCCEEDED',
        @rows_inserted = @inserted,
        @rows_updated  = @updated,
        @rows_expired  = @discontinued;
END;
GO

-- -----------------------------------------------------------------------------
-- etl.usp_load_fact_sales
--
-- Incremental: picks up order lines modified after the stored watermark.
-- Lines that reference a product the dimension has not seen yet get an
-- inferred product row, so the fact never loses a sale to a late dimension.
-- A re-sent order line replaces the earlier version of the same line.
-- -----------------------------------------------------------------------------
CREATE OR ALTER PROCEDURE etl.usp_load_fact_sales
    @batch_id  UNIQUEIDENTIFIER
AS
BEGIN
    SET NOCOUNT ON;

    DECLARE @watermark      DATETIME2(3);
    DECLARE @new_watermark  DATETIME2(3);
    DECLARE @inferred       INT = 0;
    DECLARE @replaced       INT = 0;
    DECLARE @inserted       INT = 0;

    EXEC etl.usp_log_step @batch_id, 'fact_sales', 'STARTED';

    SELECT @watermark = high_water_mark
    FROM etl.watermark
    WHERE source_name = 'stage.sales_order_line';

    SELECT
        l.order_number,
        l.line_number,
        l.customer_number,
        UPPER(LTRIM(RTRIM(l.sku)))                        AS sku,
        l.store_code,
        l.ordered_at,
        etl.fn_business_date(l.ordered_at)                AS business_date,
        l.quantity,
        CAST(l.unit_price AS DECIMAL(12, 2))              AS unit_price,
        CAST(ISNULL(l.discount, 0) AS DECIMAL(12, 2))     AS discount_amount,
        CAST(l.quantity * l.unit_price - ISNULL(l.discount, 0) AS DECIMAL(14, 2)) AS net_amount,
        ISNULL(l.tax_amount, 0)                           AS tax_amount,
        l.modified_at
    INTO #sales_src
    FROM stage.sales_order_line AS l
    WHERE l.modified_at > @watermark
      AND l.line_status IN ('INVOICED', 'SHIPPED', 'RETURNED');

    SELECT @new_watermark = MAX(modified_at) FROM #sales_src;

    IF @new_watermark IS NULL
    BEGIN
        EXEC etl.usp_log_step @batch_id, 'fact_sales', 'SKIPPED',
             @message = N'No order lines after the watermark.';
        RETURN 0;
    END;

    -- Late-arriving products: create a placeholder the product load fills in later.
    INSERT INTO dw.dim_product
        (sku, product_name, brand_name, category_name, subcategory_name,
         unit_of_measure, pack_size, list_price, standard_cost, is_private_label,
         is_discontinued, is_inferred, inserted_batch_id, updated_batch_id)
    SELECT DISTINCT
        s.sku, N'Unknown product ' + s.sku, NULL, N'Unclassified', N'Unclassified',
        'EA', 1, NULL, NULL, 0,
        0, 1, @batch_id, @batch_id
    FROM #sales_src AS s
    WHERE NOT EXISTS (SELECT 1 FROM dw.dim_product AS p WHERE p.sku = s.sku);

    SET @inferred = @@ROWCOUNT;

    SELECT
        s.order_number,
        s.line_number,
        ISNULL(c.customer_key, -1)                          AS customer_key,
        p.product_key,
        ISNULL(st.store_key, -1)                            AS store_key,
        CONVERT(INT, FORMAT(s.business_date, 'yyyyMMdd'))   AS date_key,
        s.ordered_at,
        s.quantity,
        s.unit_price,
        s.discount_amount,
        s.net_amount,
        s.tax_amount,
        s.net_amount - s.quantity * ISNULL(p.standard_cost, 0) AS gross_margin
    INTO #sales_keyed
    FROM #sales_src AS s
    INNER JOIN dw.dim_product AS p
        ON p.sku = s.sku
    LEFT JOIN dw.dim_customer AS c
        ON  c.customer_number = s.customer_number
        AND s.business_date BETWEEN c.valid_from AND c.valid_to
    LEFT JOIN dw.dim_store AS st
        ON st.store_code = s.store_code;

    BEGIN TRANSACTION;

    DELETE f
    FROM dw.fact_sales AS f
    INNER JOIN #sales_keyed AS k
        ON  k.order_number = f.order_number
        AND k.line_number  = f.line_number;

    SET @replaced = @@ROWCOUNT;

    INSERT INTO dw.fact_sales
        (order_number, line_number, customer_key, product_key, store_key, date_key,
         ordered_at, quantity, unit_price, discount_amount, net_amount, tax_amount,
         gross_margin, batch_id)
    SELECT
        k.order_number, k.line_number, k.customer_key, k.product_key, k.store_key, k.date_key,
        k.ordered_at, k.quantity, k.unit_price, k.discount_amount, k.net_amount, k.tax_amount,
        k.gross_margin, @batch_id
    FROM #sales_keyed AS k;

    SET @inserted = @@ROWCOUNT;

    UPDATE etl.watermark
    SET high_water_mark = @new_watermark,
        updated_at      = SYSUTCDATETIME()
    WHERE source_name = 'stage.sales_order_line';

    COMMIT TRANSACTION;

    EXEC etl.usp_log_step
        @batch_id      = @batch_id,
        @step_name     = 'fact_sales',
        @step_status   = 'SUCCEEDED',
        @rows_inserted = @inserted,
        @rows_updated  = @replaced,
        @rows_expired  = @inferred,
        @message       = N'rows_expired holds the number of inferred products.';

    DROP TABLE #sales_keyed;
    DROP TABLE #sales_src;
END;
GO

-- -----------------------------------------------------------------------------
-- etl.usp_load_fact_inventory
--
-- One row per store, product and business date. Stores report stock levels at
-- irregular times during the day; the snapshot keeps the last reading of each
-- day and carries the previous reading forward for products a store did not
-- report. Days of cover uses the trailing 28-day average of units sold.
-- -----------------------------------------------------------------------------
CREATE OR ALTER PROCEDURE etl.usp_load_fact_inventory
    @batch_id       UNIQUEIDENTIFIER,
    @snapshot_date  DATE
AS
BEGIN
    SET NOCOUNT ON;

    DECLARE @date_key        INT = CONVERT(INT, FORMAT(@snapshot_date, 'yyyyMMdd'));
    DECLARE @prior_date_key  INT = CONVERT(INT, FORMAT(DATEADD(DAY, -1, @snapshot_date), 'yyyyMMdd'));
    DECLARE @reported        INT = 0;
    DECLARE @carried         INT = 0;

    EXEC etl.usp_log_step @batch_id, 'fact_inventory', 'STARTED';

    -- Last reading of the day per store and product.
    ;WITH readings AS (
        SELECT
            i.store_code,
            UPPER(LTRIM(RTRIM(i.sku)))  AS sku,
            i.on_hand_units,
            i.on_order_units,
            i.reported_at,
            ROW_NUMBER() OVER (
                PARTITION BY i.store_code, UPPER(LTRIM(RTRIM(i.sku)))
                ORDER BY i.reported_at DESC
            ) AS reading_rank
        FROM stage.inventory_level AS i
        WHERE etl.fn_business_date(i.reported_at) = @snapshot_date
    )
    SELECT
        st.store_key,
        p.product_key,
        r.on_hand_units,
        r.on_order_units
    INTO #inventory_today
    FROM readings AS r
    INNER JOIN dw.dim_store AS st
        ON st.store_code = r.store_code
    INNER JOIN dw.dim_product AS p
        ON p.sku = r.sku
    WHERE r.reading_rank = 1;

    -- Trailing demand for days of cover.
    ;WITH daily_units AS (
        SELECT
            f.store_key,
            f.product_key,
            f.date_key,
            SUM(f.quantity) AS units_sold
        FROM dw.fact_sales AS f
        WHERE f.date_key >  CONVERT(INT, FORMAT(DATEADD(DAY, -29, @snapshot_date), 'yyyyMMdd'))
          AND f.date_key <= @date_key
        GROUP BY f.store_key, f.product_key, f.date_key
    )
    SELECT
        store_key,
        product_key,
        SUM(units_sold) / 28.0 AS avg_daily_units
    INTO #demand
    FROM daily_units
    GROUP BY store_key, product_key;

    BEGIN TRANSACTION;

    DELETE FROM dw.fact_inventory_snapshot
    WHERE date_key = @date_key;

    INSERT INTO dw.fact_inventory_snapshot
        (date_key, store_key, product_key, on_hand_units, on_order_units,
         avg_daily_units, days_of_cover, is_carried_forward, batch_id)
    SELECT
        @date_key,
        t.store_key,
        t.product_key,
        t.on_hand_units,
        t.on_order_units,
        ISNULL(d.avg_daily_units, 0),
        CASE
            WHEN ISNULL(d.avg_daily_units, 0) = 0 THEN NULL
            ELSE CAST(t.on_hand_units / d.avg_daily_units AS DECIMAL(9, 1))
        END,
        0,
        @batch_id
    FROM #inventory_today AS t
    LEFT JOIN #demand AS d
        ON  d.store_key = t.store_key
        AND d.product_key = t.product_key;

    SET @reported = @@ROWCOUNT;

    -- Products a store held yesterday but did not report today keep yesterday's level.
    INSERT INTO dw.fact_inventory_snapshot
        (date_key, store_key, product_key, on_hand_units, on_order_units,
         avg_daily_units, days_of_cover, is_carried_forward, batch_id)
    SELECT
        @date_key,
        y.store_key,
        y.product_key,
        y.on_hand_units,
        y.on_order_units,
        ISNULL(d.avg_daily_units, 0),
        CASE
            WHEN ISNULL(d.avg_daily_units, 0) = 0 THEN NULL
            ELSE CAST(y.on_hand_units / d.avg_daily_units AS DECIMAL(9, 1))
        END,
        1,
        @batch_id
    FROM dw.fact_inventory_snapshot AS y
    LEFT JOIN #demand AS d
        ON  d.store_key = y.store_key
        AND d.product_key = y.product_key
    WHERE y.date_key = @prior_date_key
      AND y.on_hand_units > 0
      AND NOT EXISTS (
            SELECT 1
            FROM #inventory_today AS t
            WHERE t.store_key = y.store_key
              AND t.product_key = y.product_key
      );

    SET @carried = @@ROWCOUNT;

    COMMIT TRANSACTION;

    EXEC etl.usp_log_step
        @batch_id      = @batch_id,
        @step_name     = 'fact_inventory',
        @step_status   = 'SUCCEEDED',
        @rows_inserted = @reported,
        @rows_updated  = @carried;
END;
GO

-- -----------------------------------------------------------------------------
-- etl.usp_check_load_quality
--
-- Cheap checks that catch the failures seen in production: a feed that did not
-- arrive, facts pointing at the unknown member, and revenue far from the usual
-- level for the weekday. Raises an error when a blocking check fails, so the
-- caller can stop before the cubes are processed.
-- -----------------------------------------------------------------------------
CREATE OR ALTER PROCEDURE etl.usp_check_load_quality
    @batch_id       UNIQUEIDENTIFIER,
    @business_date  DATE
AS
BEGIN
    SET NOCOUNT ON;

    DECLARE @date_key           INT = CONVERT(INT, FORMAT(@business_date, 'yyyyMMdd'));
    DECLARE @fact_rows          INT;
    DECLARE @unknown_customers  INT;
    DECLARE @revenue            DECIMAL(18, 2);
    DECLARE @typical_revenue    DECIMAL(18, 2);
    DECLARE @failures           NVARCHAR(2000) = N'';

    SELECT
        @fact_rows         = COUNT(*),
        @unknown_customers = SUM(CASE WHEN f.customer_key = -1 THEN 1 ELSE 0 END),
        @revenue           = SUM(f.net_amount)
    FROM dw.fact_sales AS f
    WHERE f.date_key = @date_key;

    -- Median of the same weekday over the previous eight weeks.
    SELECT @typical_revenue = MAX(median_revenue)
    FROM (
        SELECT PERCENTILE_CONT(0.5) WITHIN GROUP (ORDER BY day_revenue) OVER () AS median_revenue
        FROM (
            SELECT f.date_key, SUM(f.net_amount) AS day_revenue
            FROM dw.fact_sales AS f
            INNER JOIN dw.dim_date AS d
                ON d.date_key = f.date_key
            WHERE d.calendar_date >= DATEADD(WEEK, -8, @business_date)
              AND d.calendar_date <  @business_date
              AND DATEPART(WEEKDAY, d.calendar_date) = DATEPART(WEEKDAY, @business_date)
            GROUP BY f.date_key
        ) AS same_weekday
    ) AS medians;

    IF ISNULL(@fact_rows, 0) = 0
        SET @failures = @failures + N'No sales facts for the business date. ';

    IF @fact_rows > 0 AND @unknown_customers * 100.0 / @fact_rows > 2.0
        SET @failures = @failures + N'More than 2% of sales have an unknown customer. ';

    IF @typical_revenue > 0 AND ABS(@revenue - @typical_revenue) / @typical_revenue > 0.5
        SET @failures = @failures + CONCAT(N'Revenue ', @revenue, N' is more than 50% away from ',
                                           @typical_revenue, N'. ');

    IF NOT EXISTS (
        SELECT 1
        FROM dw.fact_inventory_snapshot
        WHERE date_key = @date_key
    )
        SET @failures = @failures + N'No inventory snapshot for the business date. ';

    IF LEN(@failures) > 0
    BEGIN
        EXEC etl.usp_log_step @batch_id, 'quality_checks', 'FAILED', @message = @failures;
        THROW 51000, @failures, 1;
    END;

    EXEC etl.usp_log_step @batch_id, 'quality_checks', 'SUCCEEDED';
END;
GO

-- -----------------------------------------------------------------------------
-- etl.usp_nightly_load
--
-- Entry point called by the agent job at 02:15. Runs the steps in dependency
-- order, logs each one, and stops at the first failure. @business_date
-- defaults to yesterday's business date.
-- -----------------------------------------------------------------------------
CREATE OR ALTER PROCEDURE etl.usp_nightly_load
    @business_date  DATE = NULL,
    @skip_checks    BIT  = 0
AS
BEGIN
    SET NOCOUNT ON;
    SET XACT_ABORT ON;

    DECLARE @batch_id    UNIQUEIDENTIFIER = NEWID();
    DECLARE @step        VARCHAR(100);
    DECLARE @started_at  DATETIME2(3) = SYSUTCDATETIME();
    DECLARE @message     NVARCHAR(4000);

    SET @business_date = ISNULL(@business_date, DATEADD(DAY, -1, etl.fn_business_date(SYSDATETIME())));

    EXEC etl.usp_log_step @batch_id, 'nightly_load', 'STARTED',
         @message = CONCAT(N'Business date ', CONVERT(NVARCHAR(10), @business_date, 23));

    BEGIN TRY
        SET @step = 'dim_customer';
        EXEC etl.usp_load_dim_customer @batch_id = @batch_id, @load_date = @business_date;

        SET @step = 'dim_product';
        EXEC etl.usp_load_dim_product @batch_id = @batch_id;

        SET @step = 'fact_sales';
        EXEC etl.usp_load_fact_sales @batch_id = @batch_id;

        SET @step = 'fact_inventory';
        EXEC etl.usp_load_fact_inventory @batch_id = @batch_id, @snapshot_date = @business_date;

        IF @skip_checks = 0
        BEGIN
            SET @step = 'quality_checks';
            EXEC etl.usp_check_load_quality @batch_id = @batch_id, @business_date = @business_date;
        END;

        SET @message = CONCAT(N'Completed in ',
                              DATEDIFF(SECOND, @started_at, SYSUTCDATETIME()), N' s.');
        EXEC etl.usp_log_step @batch_id, 'nightly_load', 'SUCCEEDED', @message = @message;
    END TRY
    BEGIN CATCH
        IF XACT_STATE() <> 0
            ROLLBACK TRANSACTION;

        SET @message = CONCAT(N'Step ', @step, N' failed: error ', ERROR_NUMBER(),
                              N' at line ', ERROR_LINE(), N': ', ERROR_MESSAGE());

        EXEC etl.usp_log_step @batch_id, @step, 'FAILED', @message = @message;
        EXEC etl.usp_log_step @batch_id, 'nightly_load', 'FAILED', @message = @message;

        THROW;
    END CATCH;

    -- Summary for the job history.
    SELECT
        l.step_name,
        l.step_status,
        l.rows_inserted,
        l.rows_updated,
        l.rows_expired,
        l.logged_at,
        DATEDIFF(MILLISECOND,
                 LAG(l.logged_at) OVER (ORDER BY l.log_id),
                 l.logged_at) AS elapsed_ms
    FROM etl.load_log AS l
    WHERE l.batch_id = @batch_id
    ORDER BY l.log_id;
END;
GO

-- -----------------------------------------------------------------------------
-- Reporting view over the load log: the last run of each step per day.
-- -----------------------------------------------------------------------------
CREATE OR ALTER VIEW etl.v_last_step_runs
AS
SELECT
    x.run_date,
    x.step_name,
    x.step_status,
    x.rows_inserted,
    x.rows_updated,
    x.rows_expired,
    x.message,
    x.logged_at
FROM (
    SELECT
        CAST(l.logged_at AS DATE) AS run_date,
        l.step_name,
        l.step_status,
        l.rows_inserted,
        l.rows_updated,
        l.rows_expired,
        l.message,
        l.logged_at,
        ROW_NUMBER() OVER (
            PARTITION BY CAST(l.logged_at AS DATE), l.step_name
            ORDER BY l.log_id DESC
        ) AS rn
    FROM etl.load_log AS l
) AS x
WHERE x.rn = 1;
GO

-- Grants for the job's proxy account.
GRANT EXECUTE ON etl.usp_nightly_load TO etl_runner;
GRANT SELECT  ON etl.v_last_step_runs TO reporting_reader;
GO
